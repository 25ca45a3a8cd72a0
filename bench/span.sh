#!/usr/bin/env bash
# Splitting an archive into 100 MiB numbered volumes and joining it back: tessera-cli
# side by side with Info-ZIP on the same file. Prints wall time and peak memory of each
# run. Usage: bench/span.sh [SIZE_MIB (1024)] [ROUNDS (3)]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
rounds=${2:-3}

scripts/install-deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target tessera-cli >/dev/null
cli=$PWD/build/bench/cli/tessera-cli

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-span-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# The archive: 4 MiB files of incompressible data, stored, so the copy is what is timed.
mkdir data
files=$(( (size_mib + 3) / 4 ))
for ((i = 0; i < files; i++)); do head -c 4M /dev/urandom > "data/part$i.bin"; done
zip -q -0 -r in.zip data
rm -rf data
echo "archive: $(stat -c %s in.zip) bytes, $files entries; volumes of 100 MiB; $rounds rounds"

# Runs a command under /usr/bin/time; prints "seconds peak-kB". Dirty pages of earlier
# runs are written out first, so that no run pays for another's writes.
measure() {
  sync
  /usr/bin/time -v -o time.txt "$@" >/dev/null 2>run.txt || { cat run.txt >&2; exit 1; }
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i] }
              /Maximum resident set size/ { kb = $2 }
              END { printf "%.2f %d\n", s, kb }' time.txt
}

declare -A best_time best_mem
times=""
record() {  # name "seconds kB"
  read -r s kb <<<"$2"
  times="$times $s"
  if [[ -z "${best_time[$1]:-}" ]] || awk -v a="$s" -v b="${best_time[$1]}" 'BEGIN { exit !(a < b) }'; then
    best_time[$1]=$s
  fi
  if [[ -z "${best_mem[$1]:-}" || $kb -gt ${best_mem[$1]} ]]; then best_mem[$1]=$kb; fi
}

for ((r = 1; r <= rounds; r++)); do
  mkdir iz ts
  record "zip -s 100m (split)" "$(measure zip -q in.zip -s 100m --out iz/set.zip)"
  record "tessera-cli span (split)" "$(measure "$cli" span -s 100m in.zip ts/set.zip)"
  last=$(ls ts | sort | tail -1)
  record "zip -s 0 (join)" "$(measure zip -q -s 0 iz/set.zip --out iz-joined.zip)"
  record "tessera-cli join (join)" "$(measure "$cli" join "ts/$last" ts-joined.zip)"
  cmp -s in.zip ts-joined.zip || { echo "joined archive differs from the source" >&2; exit 1; }
  echo "round $r: $(ls ts | wc -l) volumes, joined archive identical to the source; seconds:$times"
  times=""
  rm -rf iz ts iz-joined.zip ts-joined.zip
done

printf '\n%-28s %10s %14s\n' "run (best of $rounds)" "seconds" "peak RSS (kB)"
for name in "zip -s 100m (split)" "tessera-cli span (split)" "zip -s 0 (join)" "tessera-cli join (join)"; do
  printf '%-28s %10s %14s\n' "$name" "${best_time[$name]}" "${best_mem[$name]}"
done
