#!/usr/bin/env bash
# Opening an archive of 200,000 tiny entries in the desktop program's windows: time until
# the grid shows its first rows sorted with totals, a header-click sort, peak memory.
# Usage: bench/app_open.sh [ENTRIES] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-200000}
rounds=${2:-3}
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target app_bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/big.zip" "$entries" <<'PY'
import sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr('project/module%03d/src/file_%06d.txt' % (i % 500, i), b'line %d\n' % i)
PY
echo "archive: $entries entries, $(stat -c %s "$work/big.zip") bytes"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
for r in $(seq "$rounds"); do
  echo "-- round $r"
  /usr/bin/time -f "wall %e s, peak RSS %M kB" build/release/bench/app_bench "$work/big.zip"
done
