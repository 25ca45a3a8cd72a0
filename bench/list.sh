#!/usr/bin/env bash
# Listing an archive of 200,000 entries: tessera-cli against unzip -Z1, side by side.
# Usage: bench/list.sh [ENTRIES] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-200000}
rounds=${2:-7}
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target tessera-cli >/dev/null
cli=build/release/cli/tessera-cli

work=$(mktemp -d)
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
python3 bench/compare.py "$rounds" \
  "unzip -Z1=unzip -Z1 $work/big.zip" \
  "tessera-cli list --tsv=$cli list --tsv $work/big.zip" \
  "tessera-cli list=$cli list $work/big.zip"
