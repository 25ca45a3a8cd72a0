#!/usr/bin/env bash
# Listing an archive of many entries: tessera-cli against unzip -Z1 and 7zz l, side by side,
# for names in ASCII and names in code page 932 (Shift-JIS), both without the UTF-8 flag.
# Usage: bench/list.sh [ENTRIES] [ROUNDS]
#   BASE_CLI=PATH  also times another build of tessera-cli (say, main's) in the same run
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
runs=("unzip -Z1 (ASCII)=unzip -Z1 $work/ascii.zip")
command -v 7zz >/dev/null && runs+=("7zz l (ASCII)=7zz l $work/ascii.zip")
for kind in ascii sjis; do
  if [[ -n "${BASE_CLI:-}" ]]; then
    runs+=("base list --tsv ($kind)=$BASE_CLI list --tsv $work/$kind.zip")
    runs+=("base list ($kind)=$BASE_CLI list $work/$kind.zip")
  fi
  runs+=("list --tsv ($kind)=$cli list --tsv $work/$kind.zip")
  runs+=("list ($kind)=$cli list $work/$kind.zip")
done
python3 bench/compare.py "$rounds" "${runs[@]}"
