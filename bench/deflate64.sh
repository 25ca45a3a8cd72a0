#!/usr/bin/env bash
# Testing a Deflate64 archive written by 7-Zip (7zz a -tzip -mm=Deflate64) of the tree of
# make_tree.py: libsluice.so (two entries at a time, through bench/sluice_run) against
# `7zz t` and Info-ZIP's `unzip -t`, taking turns, median of ROUNDS. Prints wall time,
# processor time (user + system, which tells the speed per core) and peak memory of each,
# and the ratios. Usage: bench/deflate64.sh [ROUNDS (5)] [SCALE (0.5)]
# BENCH_TREE=folder takes a tree made earlier (by make_tree.py or any other); BENCH_ROWS=file
# appends the medians there as rows (compare.py --rows), as bench/versus.sh reads them.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
scale=${2:-0.5}
src=$PWD

scripts/install-deps.sh --test  # 7zz
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target sluice sluice_run >/dev/null
run=$PWD/build/bench/bench/sluice_run
lib=$PWD/build/bench/lib/libsluice.so

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-deflate64-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$src/bench/make_tree.py" tree "$scale"
(cd tree && 7zz a -bd -tzip -mm=Deflate64 "$work/d64.zip" . >/dev/null)
echo "archive: $(stat -c %s d64.zip) bytes of $(find -L tree -type f | wc -l) files, $(du -sbL tree | cut -f1) bytes"

python3 "$src/bench/compare.py" "$rounds" --job "Deflate64 test" --rows "${BENCH_ROWS:-}" \
  "7-Zip=7zz t d64.zip" \
  "Info-ZIP=unzip -tq d64.zip" \
  "Tessera=$run $lib test d64.zip 2>/dev/null" | tee medians.txt
awk 'function ratio(a, b) { return b > 0 ? sprintf("%.2fx", a / b) : "-" }  # GNU time counts hundredths
     { wall[$1] = $(NF - 6); cpu[$1] = $(NF - 4) }
     END { printf "libsluice against 7zz t: wall time %s, processor time %s (below 1: faster per core)\n",
           ratio(wall["Tessera"], wall["7-Zip"]), ratio(cpu["Tessera"], cpu["7-Zip"]) }' medians.txt
