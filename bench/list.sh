#!/usr/bin/env bash
# Listing an archive of many entries: tessera-cli against unzip -Z1 and 7zz l, taking turns.
# Usage: bench/list.sh [ENTRIES (200000)] [ROUNDS (7)]
# BENCH_ROWS=file appends the medians there as rows (compare.py --rows), as bench/versus.sh
# reads them.
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-200000}
rounds=${2:-7}
scripts/install-deps.sh --test  # 7zz
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target tessera-cli >/dev/null
cli=$PWD/build/bench/cli/tessera-cli

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-list-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
# Names shaped like a source tree, each entry a few bytes, as Python's zipfile writes them.
python3 - "$work/big.zip" "$entries" <<'PY'
import sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr('project/module%03d/src/file_%06d.txt' % (i % 500, i), b'line %d\n' % i)
PY
echo "archive: $entries entries, $(stat -c %s "$work/big.zip") bytes"
python3 bench/compare.py "$rounds" --job "list $entries entries" --rows "${BENCH_ROWS:-}" \
  "Info-ZIP=unzip -Z1 $work/big.zip" \
  "7-Zip=7zz l $work/big.zip" \
  "Tessera=$cli list $work/big.zip" \
  "Tessera --tsv=$cli list --tsv $work/big.zip"
