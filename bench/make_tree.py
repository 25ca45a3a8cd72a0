#!/usr/bin/env python3
"""Writes the benchmark tree: about 2,000 files and 500 MB of mixed text and binary
data, the same bytes on every run. Usage: make_tree.py FOLDER [SCALE (1.0)]; with BENCH_TREE=DIR
set, FOLDER becomes a link to a tree made earlier in DIR.

Text files of many sizes (prose-like lines and program-like code), binaries that
compress well (tables of slowly changing numbers) and binaries that do not (random
bytes, as in already-compressed media), and a few large files of each kind."""
import os
import random
import struct
import sys

WORDS = ("the of and to in is that for it as was with be by on not he this are or his from at which "
         "but have an they you were her she there been one all we their has would when if so what no "
         "archive volume entry header folder library compress extract window grid record offset size "
         "buffer stream table index value number string method option message error result file data "
         "return static const struct void int char unsigned include define while break switch case").split()


def text_pool(rng, size):
    lines, total = [], 0
    while total < size:
        if rng.random() < 0.3:  # code-like
            indent = "    " * rng.randint(0, 3)
            line = indent + "%s_%s(%s, %d);" % (rng.choice(WORDS), rng.choice(WORDS), rng.choice(WORDS),
                                                rng.randint(0, 9999))
        else:
            line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 16))).capitalize() + "."
        lines.append(line)
        total += len(line) + 1
    return ("\n".join(lines) + "\n").encode()


def table_pool(rng, size):
    out, value, t = bytearray(), 1000, 0
    while len(out) < size:
        value += rng.randint(-3, 3)
        t += rng.choice((1, 1, 1, 2))
        out += struct.pack("<IiHH", t, value, rng.randint(0, 3), 0xABCD)
    return bytes(out[:size])


def chunk(pool, rng, size):
    """`size` bytes made of slices of the pool at random places."""
    parts, left = [], size
    while left > 0:
        n = min(left, rng.randint(4096, 65536))
        start = rng.randint(0, len(pool) - n)
        parts.append(pool[start:start + n])
        left -= n
    return b"".join(parts)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    root = sys.argv[1]
    scale = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
    if os.environ.get("BENCH_TREE"):  # a tree made earlier, reused
        os.symlink(os.environ["BENCH_TREE"], root)
        print("%s: the tree in %s" % (root, os.environ["BENCH_TREE"]))
        return
    rng = random.Random(20261206)
    texts = text_pool(rng, 4 << 20)
    tables = table_pool(rng, 4 << 20)
    folders = ["src", "docs", "media", "data"]
    folders += ["%s/%s%d" % (rng.choice(folders), rng.choice(WORDS), i) for i in range(24)]
    folders += ["%s/%s%d" % (rng.choice(folders[4:]), rng.choice(WORDS), i) for i in range(16)]

    total = files = 0

    def emit(name, data):
        nonlocal total, files
        write(os.path.join(root, name), data)
        total += len(data)
        files += 1

    count = int(2000 * scale)
    for i in range(count - 6):
        folder = rng.choice(folders)
        kind = rng.random()
        if kind < 0.70:  # text: mostly small, a few hundred KiB
            size = int(min(2 << 20, rng.lognormvariate(10.3, 1.2)))
            emit("%s/%s_%d.txt" % (folder, rng.choice(WORDS), i), chunk(texts, rng, max(1, size)))
        elif kind < 0.85:  # compressible binary
            size = int(min(8 << 20, rng.lognormvariate(12.0, 1.0)))
            emit("%s/%s_%d.dat" % (folder, rng.choice(WORDS), i), chunk(tables, rng, max(1, size)))
        else:  # incompressible binary
            size = int(min(8 << 20, rng.lognormvariate(11.8, 1.1)))
            emit("%s/%s_%d.jpg" % (folder, rng.choice(WORDS), i), rng.randbytes(max(1, size)))
    large = int((64 << 20) * scale)
    emit("media/large_video.bin", rng.randbytes(large))
    emit("data/large_table.dat", chunk(tables, rng, large))
    emit("docs/large_log.txt", chunk(texts, rng, large))
    emit("media/medium_video.bin", rng.randbytes(large // 4))
    emit("data/medium_table.dat", chunk(tables, rng, large // 4))
    emit("docs/empty.txt", b"")
    print("%d files, %d bytes in %s" % (files, total, root))


if __name__ == "__main__":
    main()
