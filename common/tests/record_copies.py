#!/usr/bin/env python3
"""Fails when a source file copies raw bytes into or out of a ZIP record (which reads right
here and wrong on a big-endian host). Checks itself first on each forbidden form.

  record_copies.py SOURCE_ROOT
"""
import os
import re
import sys
import tempfile

RECORDS_HEADER = os.path.join("common", "ZipRecords.h")
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp")
# Calls that move raw bytes between memory and memory, a file or a socket.
COPY_CALLS = ("memcpy", "memmove", "memcmp", "memset", "bcopy", "fread", "fwrite", "read", "write",
              "pread", "pwrite", "pread64", "pwrite64", "recv", "send", "Read", "Write", "ReadAt",
              "WriteAt", "copy", "copy_n", "readRawData", "writeRawData")

# Comments and literals (raw strings among them), unterminated ones up to the end of the line.
LITERALS = re.compile(r'//[^\n]*|/\*.*?(?:\*/|\Z)|R"([^(\s]*)\(.*?(?:\)\1"|\Z)|"(?:\\.|[^"\\\n])*"?|'
                      r"'(?:\\.|[^'\\\n])*'?", re.S)


def strip_comments_and_strings(text):  # keeps line breaks, so that line numbers hold
    return LITERALS.sub(lambda m: " " + "\n" * m.group(0).count("\n"), text)


def record_types(root):
    with open(os.path.join(root, RECORDS_HEADER), encoding="utf-8") as f:
        return sorted(set(re.findall(r"^\s*struct\s+(\w+)\s*\{", f.read(), re.M)))


def call_arguments(code, start):  # the text between the parenthesis at `start` and its partner
    depth = 0
    for i in range(start, len(code)):
        depth += {"(": 1, ")": -1}.get(code[i], 0)
        if depth == 0:
            return code[start + 1:i]
    return code[start + 1:]


def findings(code, types):
    alt = "|".join(types)
    found = []

    def add(pos, what):
        found.append((code.count("\n", 0, pos) + 1, what))

    # Variables, pointers and containers of record type declared in this file.
    plain, pointers, containers = set(), set(), set()
    for m in re.finditer(r"\b(?:%s)\b\s*(\*|&)?\s*(?:const\s+)?(\w+)\s*(?=[;=,(){\[])" % alt, code):
        (pointers if m.group(1) == "*" else plain).add(m.group(2))
    for m in re.finditer(r"<\s*(?:const\s+)?(?:%s)\s*(?:,[^<>]*)?>\s*[&*]?\s*(\w+)" % alt, code):
        containers.add(m.group(1))
    plain -= {"Decode", "Encode", "operator"}

    for m in re.finditer(r"\b(?:reinterpret_cast|static_cast|const_cast|bit_cast)\s*<\s*(?:const\s+)?"
                         r"(?:volatile\s+)?(?:::)?(%s)\b" % alt, code):
        if re.match(r"[^>]*[*&]", code[m.end():m.end() + 40]) or "bit_cast" in m.group(0):
            add(m.start(), "cast to " + m.group(1))
    for m in re.finditer(r"\(\s*(?:const\s+)?(%s)\s*[*&]\s*\)" % alt, code):
        add(m.start(), "C cast to " + m.group(1))
    for m in re.finditer(r"\bsizeof\s*\(?\s*(?:\(\s*)?(\w+)\b", code):
        if m.group(1) in types or m.group(1) in plain or m.group(1) in containers:
            add(m.start(), "sizeof of record " + m.group(1))
    names = plain | containers
    if names:
        for m in re.finditer(r"(?:_cast\s*<[^>]*>|\(\s*(?:const\s+)?(?:unsigned\s+)?(?:\w+::)?\w+\s*\*\s*\))"
                             r"\s*\(?\s*&\s*(%s)\b(?!\s*\.)" % "|".join(sorted(names)), code):
            add(m.start(), "cast of the address of record " + m.group(1))
    for m in re.finditer(r"\b(?:std\s*::\s*)?(%s)\s*\(" % "|".join(COPY_CALLS), code):
        args = call_arguments(code, m.end() - 1)
        hit = None
        if names:
            a = re.search(r"(?<![&\w])&\s*(%s)\b(?!\s*[.\[])" % "|".join(sorted(names)), args)
            a = a or re.search(r"(?<![.\w])(%s)\s*\.\s*data\s*\(" % "|".join(sorted(containers)), args) \
                if containers else a
            hit = a and a.group(1)
        if not hit and pointers:
            for arg in args.split(","):
                if re.fullmatch(r"\s*(?:%s)\s*" % "|".join(sorted(pointers)), arg):
                    hit = arg.strip()
        if hit:
            add(m.start(), "%s on record %s" % (m.group(1), hit))
    return found


def scan(root):
    types = record_types(root)
    problems = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if not d.startswith(".") and not d.startswith("build"))
        for name in sorted(files):
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            if not name.endswith(SOURCE_SUFFIXES) or rel == RECORDS_HEADER:
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                code = strip_comments_and_strings(f.read())
            problems += ["%s:%d: %s" % (rel, line, what) for line, what in findings(code, types)]
    return problems


PLANTED = {
    "memcpy into a record": "LocalFileHeader h;\nstd::memcpy(&h, buf, 30);\n",
    "memcpy out of a record": "void f(const CentralFileHeader& c, char* out) { memcpy(out, &c, 46); }\n",
    "read into a record": "EndOfCentralDir end{};\nif (fReadHandle.Read(&end, 22) != 22) return;\n",
    "fread into a record": "DataDescriptor d;\nfread(&d, 1, 16, f);\n",
    "pointer cast onto bytes": "const auto* h = reinterpret_cast<const LocalFileHeader*>(buf);\n",
    "C cast onto bytes": "auto* z = (Zip64EndLocator*)raw;\n",
    "cast of a record's address": "CentralFileHeader h; auto* p = reinterpret_cast<uint8_t*>(&h);\n",
    "sizeof a record": "write(fd, buf, sizeof(EndOfCentralDir));\n",
    "write from a record pointer": "void g(int fd, const LocalFileHeader* lh) { ::write(fd, lh, 30); }\n",
    "vector of records": "std::vector<CentralFileHeader> all(3);\nfwrite(all.data(), 46, 3, f);\n",
    "bit_cast": "auto e = std::bit_cast<Zip64EndOfCentralDir>(bytes);\n",
}
CLEAN = """// memcpy(&h, buf, 30) in a comment is fine
const char* s = "memcpy(&h, p, sizeof(LocalFileHeader))";
LocalFileHeader h = LocalFileHeader::Decode(raw);
uint8_t buf[LocalFileHeader::Size];
h.Encode(buf);
std::memcpy(out, buf, sizeof buf);
fReadHandle.Read(raw, sizeof raw);
CentralFileHeader c = CentralFileHeader::Decode(reinterpret_cast<const uint8_t*>(data));
entry.ApplyZip64Extra(reinterpret_cast<const uint8_t*>(extra.data()), extra.size());
Use(&h.Crc32);
"""


def self_test():  # what the scan misses of the forbidden forms, or flags in clean code
    failures = []
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "common"))
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ZipRecords.h"),
                  encoding="utf-8") as f, open(os.path.join(root, RECORDS_HEADER), "w", encoding="utf-8") as out:
            out.write(f.read())
        for what, code in [("clean code", CLEAN)] + list(PLANTED.items()):
            with open(os.path.join(root, "sample.cpp"), "w", encoding="utf-8") as f:
                f.write(code)
            if bool(scan(root)) != (code != CLEAN):
                failures.append("self-test: %s %s" % (what, "flagged" if code == CLEAN else "not found"))
    return failures


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = self_test() + [p + " (use the record's Encode/Decode or GetLE*/PutLE*)" for p in scan(sys.argv[1])]
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
