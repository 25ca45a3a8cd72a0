#!/usr/bin/env bash
# Listing an archive of many entries: tessera-cli against unzip -Z1 and 7zz l, taking turns,
# for names in ASCII and names in code page 932 (Shift-JIS), both without the UTF-8 flag.
# Usage: bench/list.sh [ENTRIES (200000)] [ROUNDS (7)]
#   BASE_CLI=PATH  also times another build of tessera-cli (say, main's) in the same run
#   BENCH_ROWS=file appends the medians there as rows (compare.py --rows), as bench/versus.sh
#                   reads them.
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
# Names shaped like a source tree, each entry a few bytes. The ASCII archive is Python's
# zipfile's own; the Shift-JIS one has the same shape with Japanese folder and file names,
# stored without the flag as Japanese Windows stores them.
python3 - "$work" "$entries" <<'PY'
import sys, zipfile
sys.path.insert(0, 'archive/tests')
import names_corpus
folder, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(folder + '/ascii.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr('project/module%03d/src/file_%06d.txt' % (i % 500, i), b'line %d\n' % i)
names = ['プロジェクト/モジュール%03d/ソース/表示_%06d.txt' % (i % 500, i) for i in range(count)]
names_corpus.write_archive(folder + '/sjis.zip', names, 'cp932')
PY
echo "archives: $entries entries; ASCII $(stat -c %s "$work/ascii.zip") bytes, Shift-JIS $(stat -c %s "$work/sjis.zip") bytes"
python3 bench/compare.py "$rounds" --job "list $entries entries" --rows "${BENCH_ROWS:-}" \
  "Info-ZIP=unzip -Z1 $work/ascii.zip" \
  "7-Zip=7zz l $work/ascii.zip" \
  "Tessera=$cli list $work/ascii.zip" \
  "Tessera --tsv=$cli list --tsv $work/ascii.zip"
# Names in a code page, judged: not one of the rows bench/versus.sh reads.
runs=("list (Shift-JIS)=$cli list $work/sjis.zip" "list --tsv (Shift-JIS)=$cli list --tsv $work/sjis.zip")
if [[ -n "${BASE_CLI:-}" ]]; then
  runs+=("base list (ASCII)=$BASE_CLI list $work/ascii.zip" "base list --tsv (ASCII)=$BASE_CLI list --tsv $work/ascii.zip")
fi
python3 bench/compare.py "$rounds" "${runs[@]}"
