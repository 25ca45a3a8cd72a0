#!/usr/bin/env python3
"""Fails when a source file copies raw bytes into or out of a ZIP record.

Record fields are little-endian on disk; only the record header converts them. A memcpy,
a read into a record, or a cast of its address reads right on this machine and wrong on a
big-endian one, so no test run here would notice: this check forbids writing it at all.

  record_copies.py SOURCE_ROOT    scan the tree
  record_copies.py --self-test    check that each forbidden form is found
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


def strip_comments_and_strings(text):
    """Blanks comments and literals, keeping line breaks so that line numbers hold."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif c in "\"'":
            m = re.match(r'R"([^(\s]*)\(', text[i:]) if c == '"' and i > 0 and text[i - 1] == "R" else None
            if m:
                end = text.find(")" + m.group(1) + '"', i)
                j = n if end < 0 else end + len(m.group(1)) + 2
            else:
                j = i + 1
                while j < n and text[j] != c and text[j] != "\n":
                    j += 2 if text[j] == "\\" else 1
                j += 1
            out.append(c + " " + c + "\n" * text.count("\n", i, j))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def record_types(root):
    with open(os.path.join(root, RECORDS_HEADER), encoding="utf-8") as f:
        return sorted(set(re.findall(r"^\s*struct\s+(\w+)\s*\{", f.read(), re.M)))


def call_arguments(code, start):
    """The text between the parenthesis at `start` and its partner."""
    depth, i = 0, start
    while i < len(code):
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
            if depth == 0:
                return code[start + 1:i]
        i += 1
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


def self_test():
    failures = []
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "common"))
        here = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(here, "..", "ZipRecords.h"), encoding="utf-8") as f:
            header = f.read()
        with open(os.path.join(root, RECORDS_HEADER), "w", encoding="utf-8") as f:
            f.write(header)
        with open(os.path.join(root, "clean.cpp"), "w", encoding="utf-8") as f:
            f.write(CLEAN)
        if scan(root):
            failures.append("clean code flagged: %s" % scan(root))
        for what, code in PLANTED.items():
            path = os.path.join(root, "planted.cpp")
            with open(path, "w", encoding="utf-8") as f:
                f.write(code)
            if not any(p.startswith("planted.cpp:") for p in scan(root)):
                failures.append("not found: " + what)
            os.remove(path)
    for f in failures:
        print(f)
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = scan(sys.argv[1])
    for p in problems:
        print(p + " (use the record's Encode/Decode or GetLE*/PutLE*)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
