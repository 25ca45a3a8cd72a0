#!/usr/bin/env bash
# Testing a Deflate64 archive written by 7-Zip (7zz a -tzip -mm=Deflate64) of the tree of
# make_tree.py: libsluice.so (two entries at a time) against `7zz t`, alternating, median of
# ROUNDS. Prints wall time, processor time (user + system, which tells the speed per core)
# and peak memory of each, and the ratios. Usage: bench/deflate64.sh [ROUNDS (5)] [SCALE (0.5)]
# BENCH_TREE=folder reuses a tree made earlier by make_tree.py.
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

declare -A series
measure() {  # name command
  /usr/bin/time -f '%e %U %S %M' -o time.txt sh -c "$2" >/dev/null 2>run.txt || {
    echo "failed: $2" >&2; cat run.txt >&2; exit 1; }
  series[$1]="${series[$1]:-}$(cat time.txt);"
}
measure warm "7zz t d64.zip && $run $lib test d64.zip"
for ((r = 1; r <= rounds; r++)); do
  measure "7zz t" "7zz t d64.zip"
  measure "libsluice test" "$run $lib test d64.zip"
done
python3 - "${series["7zz t"]}" "${series["libsluice test"]}" <<'PY'
import statistics, sys
def parse(s):
    rows = [list(map(float, r.split())) for r in s.strip(';').split(';')]
    return (statistics.median(r[0] for r in rows), statistics.median(r[1] + r[2] for r in rows),
            max(r[3] for r in rows) / 1024)
peer, ours = parse(sys.argv[1]), parse(sys.argv[2])
print('%-16s %9s %10s %9s' % ('', 'wall s', 'cpu s', 'peak MiB'))
for name, (wall, cpu, peak) in (('7zz t', peer), ('libsluice test', ours)):
    print('%-16s %9.3f %10.3f %9.1f' % (name, wall, cpu, peak))
ratio = lambda a, b: a / b if b > 0 else float('nan')  # GNU time counts in hundredths
print('wall time: %.2fx 7zz t; processor time: %.2fx (below 1: faster per core)' %
      (ratio(ours[0], peer[0]), ratio(ours[1], peer[1])))
PY
