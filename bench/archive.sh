#!/usr/bin/env bash
# Add, extract, test and delete: tessera-cli side by side with Info-ZIP on the tree of
# make_tree.py (about 2,000 files, 500 MB). The runs alternate between the tools; the
# table gives the median wall time, the median processor time (user and system: on a shared
# machine it moves less than the wall time), the peak resident memory (GNU time) and the
# archive sizes. Usage: bench/archive.sh [ROUNDS (3)] [SCALE (1.0)]
# BENCH_TREE=folder  reuses a tree made earlier by make_tree.py (or any folder of files)
# BASE_CLI=PATH      also times another build of tessera-cli (say, main's), alternating
# SEVENZIP=1         also gives the size of 7-Zip's archive at -mx5 (made once, not timed)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
scale=${2:-1.0}
src=$PWD

scripts/install-deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target tessera-cli >/dev/null
cli=$PWD/build/bench/cli/tessera-cli

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-archive-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$src/bench/make_tree.py" tree "$scale"
# A tree made earlier comes as a link, which tessera-cli would store as a link: the files
# themselves are linked in instead (copied where they live on another file system).
if [[ -L tree ]]; then
  target=$(readlink tree)
  rm tree
  cp -al "$target" tree 2>/dev/null || { rm -rf tree; cp -a "$target" tree; }
fi

# Runs a shell command under GNU time; appends "seconds peak-KiB processor-seconds" to the
# named series. Dirty pages of earlier runs are written out first, so that no run pays for
# another's.
declare -A series
measure() {  # name command
  sync
  /usr/bin/time -f '%e %M %U %S' -o time.txt sh -c "$2" >/dev/null 2>run.txt || {
    echo "failed: $2" >&2; cat run.txt >&2; exit 1; }
  series[$1]="${series[$1]:-} $(awk '{ printf "%s %s %.2f", $1, $2, $3 + $4 }' time.txt)"
}
base=${BASE_CLI:-}

# The 100th text file (in a tree with fewer, a file further down the list of all).
victim=$(cd tree && { find . -type f -name '*.txt' | sort; find . -type f | sort; } | sed -n 100p | sed 's|^\./||')
for ((r = 1; r <= rounds; r++)); do
  for level in 6 9; do
    measure "zip -$level" "rm -f iz$level.zip && zip -q -$level -r iz$level.zip tree"
    measure "tessera-cli add -$level" "rm -f ts$level.zip && '$cli' add -q -$level -r ts$level.zip tree"
    [[ -z "$base" ]] || measure "base add -$level" "rm -f base$level.zip && '$base' add -q -$level -r base$level.zip tree"
  done
  # Both extract and test the archive Info-ZIP wrote, so that they do the same work.
  measure "unzip" "rm -rf out-iz && unzip -q iz6.zip -d out-iz"
  measure "tessera-cli extract" "rm -rf out-ts && '$cli' extract -q -d out-ts iz6.zip"
  measure "unzip -t" "unzip -tq iz6.zip"
  measure "tessera-cli test" "'$cli' test -q iz6.zip"
  cp iz6.zip del-iz.zip && cp iz6.zip del-ts.zip
  measure "zip -d (one entry)" "zip -q -d del-iz.zip 'tree/$victim'"
  measure "tessera-cli delete (one entry)" "'$cli' delete -q del-ts.zip 'tree/$victim'"
  echo "round $r done" >&2
done

# Every result is checked once: the extracted trees, and each archive by the other tool.
diff -r tree/ out-ts/tree/ >/dev/null || { echo "tessera-cli extracted something else" >&2; exit 1; }
for level in 6 9; do
  unzip -tq "ts$level.zip" >/dev/null || { echo "unzip -t fails on ts$level.zip" >&2; exit 1; }
  if command -v 7zz >/dev/null; then 7zz t "ts$level.zip" >/dev/null || { echo "7zz t fails on ts$level.zip" >&2; exit 1; }; fi
done
[[ $(unzip -Z1 del-ts.zip | wc -l) == $(unzip -Z1 del-iz.zip | wc -l) ]] || { echo "delete removed a different count" >&2; exit 1; }

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
field() {  # name field (1 seconds, 2 peak KiB, 3 processor seconds): each round's value
  awk -v f="$2" '{ for (i = f; i <= NF; i += 3) print $i }' <<<"${series[$1]}" | tr '\n' ' '
}
row() {  # name peer
  local t c m pt ratio
  [[ -n "${series[$1]:-}" ]] || return 0
  t=$(field "$1" 1 | median)
  c=$(field "$1" 3 | median)
  m=$(field "$1" 2 | tr ' ' '\n' | grep . | sort -n | tail -1)
  ratio=""
  if [[ -n "$2" ]]; then
    pt=$(field "$2" 1 | median)
    ratio=$(awk -v a="$t" -v b="$pt" 'BEGIN { printf "%.2fx", (b > 0) ? a / b : 0 }')
  fi
  printf '| %-30s | %8.2f | %8.2f | %7s | %9.1f |\n' "$1" "$t" "$c" "$ratio" "$(awk -v k="$m" 'BEGIN { print k / 1024 }')"
}

echo
echo "tree: $(find -L tree -type f | wc -l) files, $(du -sbL tree | cut -f1) bytes; $rounds rounds, $(nproc) cores"
printf '| %-30s | %8s | %8s | %7s | %9s |\n' "run" "wall s" "cpu s" "vs peer" "peak MiB"
printf '|%s|%s|%s|%s|%s|\n' "--------------------------------" "---------:" "---------:" "--------:" "----------:"
row "zip -6" ""
row "tessera-cli add -6" "zip -6"
row "base add -6" "zip -6"
row "zip -9" ""
row "tessera-cli add -9" "zip -9"
row "base add -9" "zip -9"
row "unzip" ""
row "tessera-cli extract" "unzip"
row "unzip -t" ""
row "tessera-cli test" "unzip -t"
row "zip -d (one entry)" ""
row "tessera-cli delete (one entry)" "zip -d (one entry)"
echo
percent() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%+.2f%%", (b - a) * 100 / a }'; }
for level in 6 9; do
  a=$(stat -c %s "iz$level.zip"); b=$(stat -c %s "ts$level.zip")
  line="archive size at level $level: zip $a bytes, tessera-cli $b bytes ($(percent "$a" "$b"))"
  if [[ -n "$base" ]]; then c=$(stat -c %s "base$level.zip"); line+=", base $c bytes ($(percent "$a" "$c"))"; fi
  echo "$line"
done
if [[ "${SEVENZIP:-0}" == 1 ]] && command -v 7zz >/dev/null; then
  7zz a -tzip -mx5 7z5.zip tree >/dev/null
  a=$(stat -c %s 7z5.zip); b=$(stat -c %s ts9.zip)
  echo "7zz a -tzip -mx5: $a bytes; tessera-cli -9 $(percent "$a" "$b") against it"
fi
