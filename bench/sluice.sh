#!/usr/bin/env bash
# Extracting and testing a tree of about 2,000 files and 500 MB of mixed text and binary
# (zip -6): libsluice.so against unzip and unzip -t, side by side, median of ROUNDS.
# Usage: bench/sluice.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2 --target sluice sluice_run >/dev/null
run=$PWD/build/release/bench/sluice_run
lib=$PWD/build/release/lib/libsluice.so

work=$PWD/bench/out/sluice
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
python3 - "$work/tree" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(1)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 10))) for _ in range(5000)]
text = ' '.join(rng.choice(words) for _ in range(400000)).encode()  # about 2.4 MB to slice from
noise = os.urandom(4 << 20)
total = 0
for i in range(2000):
    folder = os.path.join(root, 'dir%02d' % (i % 40), 'sub%d' % (i % 3))
    os.makedirs(folder, exist_ok=True)
    # Mostly small files, a few large ones: about 500 MB in all.
    size = rng.choice([2000, 20000, 60000, 150000]) if i % 100 else 20 << 20
    binary = i % 3 == 0
    with open(os.path.join(folder, 'file%04d.%s' % (i, 'bin' if binary else 'txt')), 'wb') as f:
        left = size
        while left > 0:
            src = noise if binary else text
            at = rng.randrange(0, len(src) - 1)
            chunk = src[at:at + min(left, 1 << 20)]
            f.write(chunk)
            left -= len(chunk)
    total += size
print('tree: 2000 files, %d MB' % (total >> 20))
PY
(cd "$work/tree" && zip -q -6 -r ../a.zip .)
echo "archive: $(stat -c %s "$work/a.zip") bytes"
cd "$work"
python3 ../../compare.py "$rounds" \
  "unzip (extract)=rm -rf x && mkdir x && cd x && unzip -q ../a.zip" \
  "libsluice (extract)=rm -rf y && mkdir y && cd y && $run $lib extract ../a.zip 2>/dev/null" \
  "unzip -t (test)=unzip -tq a.zip" \
  "libsluice (test)=$run $lib test a.zip 2>/dev/null"
diff -r x y && echo "extracted trees identical"
