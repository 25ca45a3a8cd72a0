#!/usr/bin/env bash
# Deleting one entry: tessera-cli delete against zip -d on copies of the same archive
# (zip -r -6 of the make_tree.py tree), alternating, median wall time of the rounds.
# Usage: bench/delete.sh [ROUNDS (7)] [SCALE (1.0)]
# BENCH_ZIP=archive reuses an archive; BENCH_CLI=path measures another tessera-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
scale=${2:-1.0}
src=$PWD
cli=${BENCH_CLI:-}
if [[ -z "$cli" ]]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
  cmake --build build/bench -j2 --target tessera-cli >/dev/null
  cli=$PWD/build/bench/cli/tessera-cli
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-delete-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
if [[ -n "${BENCH_ZIP:-}" ]]; then
  cp "$BENCH_ZIP" big.zip
else
  python3 "$src/bench/make_tree.py" tree "$scale" >/dev/null
  zip -q -6 -r big.zip tree
  rm -rf tree
fi
victim=$(unzip -Z1 big.zip | grep -v '/$' | sed -n "$(( $(unzip -Z1 big.zip | grep -vc '/$') / 2 ))p")

declare -A series
measure() {  # name command
  sync
  local t0 t1
  t0=$(date +%s.%N)
  sh -c "$2" >/dev/null
  t1=$(date +%s.%N)
  series[$1]="${series[$1]:-} $(echo "$t1 - $t0" | bc)"
}
for ((r = 1; r <= rounds; r++)); do
  cp big.zip iz.zip && cp big.zip ts.zip
  measure zip "zip -q -d iz.zip '$victim'"
  measure tessera "'$cli' delete -q ts.zip '$victim'"
done
unzip -tq ts.zip >/dev/null || { echo "unzip -t fails on the result" >&2; exit 1; }
[[ $(unzip -Z1 ts.zip | wc -l) == $(unzip -Z1 iz.zip | wc -l) ]] || { echo "a different count was removed" >&2; exit 1; }

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
z=$(echo "${series[zip]}" | median)
t=$(echo "${series[tessera]}" | median)
printf 'archive %s bytes, %d rounds\nzip -d              %.3f s\ntessera-cli delete  %.3f s  (%.2fx)\n' \
  "$(stat -c %s big.zip)" "$rounds" "$z" "$t" "$(echo "$t / $z" | bc -l)"
