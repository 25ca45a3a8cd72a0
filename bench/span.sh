#!/usr/bin/env bash
# Splitting an archive into numbered volumes and joining it back: tessera-cli side by
# side with Info-ZIP on the same file. Two archives: SIZE_MIB of large stored entries in
# 100 MiB volumes (the copy is what is timed), and TINY small entries in 1 MiB volumes
# (the headers are what is timed). Prints wall time and peak memory of each run.
# Usage: bench/span.sh [SIZE_MIB (1024)] [ROUNDS (3)] [TINY (65000)]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
rounds=${2:-3}
tiny=${3:-65000}

scripts/install-deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target tessera-cli >/dev/null
cli=$PWD/build/bench/cli/tessera-cli

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-span-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# Runs a command under /usr/bin/time; prints "seconds peak-kB". Dirty pages of earlier
# runs are written out first, so that no run pays for another's writes.
measure() {
  sync
  /usr/bin/time -v -o time.txt "$@" >/dev/null 2>run.txt || { cat run.txt >&2; return 1; }
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

# One archive, ROUNDS times: split and join by both tools. zip -s 0 cannot join every set
# that zip -s writes (a header that starts a split file is recorded at the end of the one
# before); a failed join is reported as such and not timed.
run_case() {  # label volume-size
  local label=$1 volume=$2 r last
  for ((r = 1; r <= rounds; r++)); do
    mkdir iz ts
    record "$label zip -s (split)" "$(measure zip -q in.zip -s "$volume" --out iz/set.zip)"
    record "$label tessera span" "$(measure "$cli" span -s "$volume" in.zip ts/set.zip)"
    last=$(ls ts | sort | tail -1)
    if out=$(measure zip -q -s 0 iz/set.zip --out iz-joined.zip 2>/dev/null); then
      record "$label zip -s 0 (join)" "$out"
    else
      best_time["$label zip -s 0 (join)"]=failed
      best_mem["$label zip -s 0 (join)"]=-
    fi
    record "$label tessera join" "$(measure "$cli" join "ts/$last" ts-joined.zip)"
    cmp -s in.zip ts-joined.zip || { echo "joined archive differs from the source" >&2; exit 1; }
    echo "$label round $r: $(ls ts | wc -l) volumes, joined archive identical to the source; seconds:$times"
    times=""
    rm -rf iz ts iz-joined.zip ts-joined.zip
  done
}

# Large entries: 4 MiB files of incompressible data, stored, so the copy is what is timed.
mkdir data
files=$(( (size_mib + 3) / 4 ))
for ((i = 0; i < files; i++)); do head -c 4M /dev/urandom > "data/part$i.bin"; done
zip -q -0 -r in.zip data
rm -rf data
echo "large: $(stat -c %s in.zip) bytes, $files entries; volumes of 100 MiB; $rounds rounds"
run_case large 100m
rm -f in.zip

# Many tiny entries: a few bytes each, so reading and writing headers is what is timed.
python3 - "$tiny" <<'PY'
import sys, zipfile
with zipfile.ZipFile('in.zip', 'w') as z:
    for i in range(int(sys.argv[1])):
        z.writestr('d%03d/f%06d.txt' % (i // 1000, i), b'%d' % i)
PY
echo "tiny: $(stat -c %s in.zip) bytes, $tiny entries; volumes of 1 MiB; $rounds rounds"
run_case tiny 1m

printf '\n%-30s %10s %14s\n' "run (best of $rounds)" "seconds" "peak RSS (kB)"
for label in large tiny; do
  for what in "zip -s (split)" "tessera span" "zip -s 0 (join)" "tessera join"; do
    name="$label $what"
    printf '%-30s %10s %14s\n' "$name" "${best_time[$name]}" "${best_mem[$name]}"
  done
done
