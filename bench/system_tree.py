#!/usr/bin/env python3
"""Writes a tree of real system files for the benchmarks: headers from /usr/include, message
catalogues from /usr/share/locale and shared libraries from /usr/lib/x86_64-linux-gnu, each
walked in sorted order and taken up to a fixed byte budget (files above a size cap are
passed over, so that one large library does not fill a budget alone). Symbolic links whose
target is a file taken in the link's folder or below are kept as links. The same machine gives
the same tree on every run; another machine gives another, so compare tools within one run.
Usage: system_tree.py FOLDER [SCALE (1.0)]; with BENCH_SYSTEM_TREE=DIR set, FOLDER becomes a
link to a tree made earlier in DIR."""
import os
import shutil
import sys

# (source, byte budget, largest file taken)
SOURCES = (
    ("/usr/include", 130_000_000, 4 << 20),
    ("/usr/share/locale", 40_000_000, 4 << 20),
    ("/usr/lib/x86_64-linux-gnu", 80_000_000, 8 << 20),
)


def walk(root):
    """Every path below root, folders in sorted order, never following a link."""
    for folder, dirs, files in os.walk(root):
        dirs.sort()
        for name in sorted(files + [d for d in dirs if os.path.islink(os.path.join(folder, d))]):
            yield os.path.join(folder, name)


def main():
    out = sys.argv[1]
    scale = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
    if os.environ.get("BENCH_SYSTEM_TREE"):
        os.symlink(os.environ["BENCH_SYSTEM_TREE"], out)
        print("%s: the tree in %s" % (out, os.environ["BENCH_SYSTEM_TREE"]))
        return
    files = links = total = 0
    for source, budget, cap in SOURCES:
        if not os.path.isdir(source):
            continue
        budget = int(budget * scale)
        dest = os.path.join(out, os.path.basename(source))
        taken, pending, used = set(), [], 0
        for path in walk(source):
            rel = os.path.relpath(path, source)
            if os.path.islink(path):
                pending.append((rel, os.readlink(path)))
                continue
            if not os.path.isfile(path) or not os.access(path, os.R_OK):
                continue
            size = os.path.getsize(path)
            if size > cap:
                continue
            if used + size > budget:
                break
            target = os.path.join(dest, rel)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy2(path, target)
            taken.add(rel)
            used += size
            files += 1
        # A link is kept when it leads to a file taken in its own folder or below it: 7-Zip
        # refuses to extract links that climb (with "..") or are absolute.
        for rel, target in pending:
            if target.startswith("/") or ".." in target.split("/"):
                continue
            resolved = os.path.normpath(os.path.join(os.path.dirname(rel), target))
            if resolved in taken:
                os.makedirs(os.path.dirname(os.path.join(dest, rel)), exist_ok=True)
                os.symlink(target, os.path.join(dest, rel))
                links += 1
        total += used
    print("%d files, %d links, %d bytes in %s" % (files, links, total, out))


if __name__ == "__main__":
    main()
