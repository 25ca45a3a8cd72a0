#!/usr/bin/env bash
# Writers at once against one archive, for a bounded time, then a check that nothing was
# damaged or lost:
#   - an add loop: each round moves (-m) a new file n<i>.txt into the archive, then adds
#     shared.txt, which
#   - a source writer keeps rewriting in place, 64 KiB at a time with short pauses, and
#   - a delete loop removes the oldest n<i>.txt entries it finds (and now and then shared.txt).
# A copy of the archive is kept after every operation that changed it. Afterwards every copy
# and the final archive must pass unzip -t, and every n<i>.txt must be somewhere: still a file
# (its add failed, and said so), in the archive with its content, or deleted by the delete loop.
# Usage: bench/writers_stress.sh [SECONDS (60)]    BENCH_CLI=path tests another tessera-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cli=${BENCH_CLI:-}
if [[ -z "$cli" ]]; then
  cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
  cmake --build build/bench -j2 --target tessera-cli >/dev/null
  cli=$PWD/build/bench/cli/tessera-cli
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-writers-stress-XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
mkdir copies
content() { python3 -c "import sys; i=int(sys.argv[1]); sys.stdout.write(''.join('file %d line %d of the moved files\n' % (i, n) for n in range(8000)))" "$1"; }
python3 -c "import sys; sys.stdout.write(''.join('shared line %d\n' % n for n in range(200000)))" > shared.txt
end=$(( $(date +%s) + seconds ))

keep_copy() {  # a complete archive: renames replace it whole, and cp reads one file
  cp a.zip "copies/$1-$(date +%s%N).zip" 2>/dev/null || true
}

add_loop() {
  local i=0
  while (( $(date +%s) < end )); do
    i=$((i + 1))
    content "$i" > "n$i.txt"
    if "$cli" add -q -m a.zip "n$i.txt" 2>>add.err >/dev/null; then echo "$i" >> added.log; keep_copy add; fi
    if "$cli" add -q -6 a.zip shared.txt 2>>add.err >/dev/null; then keep_copy shared; fi
    echo "$i" > last.log
  done
}

delete_loop() {
  local round=0
  while (( $(date +%s) < end )); do
    round=$((round + 1))
    local victim
    victim=$(unzip -Z1 a.zip 2>/dev/null | grep '^n' | head -1 || true)
    (( round % 5 == 0 )) && victim=shared.txt
    if [[ -z "$victim" ]]; then sleep 0.05; continue; fi
    if "$cli" delete -q a.zip "$victim" 2>>delete.err >/dev/null; then echo "$victim" >> deleted.log; keep_copy delete; fi
  done
}

source_writer() {
  python3 - "$end" <<'PY'
import os, sys, time
end = float(sys.argv[1])
size = os.path.getsize('shared.txt')
piece, turn = 64 * 1024, 0
with open('shared.txt', 'r+b') as f:
    while time.time() < end:
        turn += 1
        text = ('turn %d ' % turn).encode() * (piece // 8)
        for at in range(0, size, piece):
            f.seek(at)
            f.write(text[:min(piece, size - at)])
            f.flush()
        time.sleep(0.2)  # a quiet moment now and then, so that some adds read it whole
PY
}

add_loop & pids+=($!)
delete_loop & pids+=($!)
source_writer & pids+=($!)
for p in "${pids[@]}"; do wait "$p"; done
pids=()

bad=0
checked=0
for z in copies/*.zip a.zip; do
  [[ -e "$z" ]] || continue
  checked=$((checked + 1))
  if ! out=$(unzip -tq "$z" 2>&1); then
    case "$out" in *"zipfile is empty"*) ;; *) echo "damaged: $z: $out" >&2; bad=$((bad + 1)) ;; esac
  fi
done

lost=0
rounds=$(cat last.log 2>/dev/null || echo 0)
for ((i = 1; i <= rounds; i++)); do
  [[ -e "n$i.txt" ]] && continue  # not moved: its add failed
  if unzip -Z1 a.zip 2>/dev/null | grep -qx "n$i.txt"; then
    if [[ "$(unzip -p a.zip "n$i.txt")" != "$(content "$i")" ]]; then echo "wrong content: n$i.txt" >&2; lost=$((lost + 1)); fi
  elif ! grep -qx "n$i.txt" deleted.log 2>/dev/null; then
    echo "lost: n$i.txt" >&2
    lost=$((lost + 1))
  fi
done

count() { grep -c "$1" "$2" 2>/dev/null || true; }
printf '%s s: %d add rounds (%d moved in), %d deletes, %d archives checked\n' "$seconds" "$rounds" \
  "$(wc -l < added.log 2>/dev/null || echo 0)" "$(wc -l < deleted.log 2>/dev/null || echo 0)" "$checked"
cat add.err delete.err > messages 2>/dev/null || true
printf 'reported: %d sources changed while read, %d waits for the other writer, %d waits given up, %d archives changed meanwhile\n' \
  "$(count 'changed while it was read' messages)" "$(count 'waiting for another' messages)" "$(count 'in use by another' messages)" \
  "$(count 'changed by another program' messages)"
if (( bad == 0 && lost == 0 )); then
  echo "PASS: no damaged archive, no lost file"
else
  echo "FAIL: $bad damaged archives, $lost files lost or wrong"
  exit 1
fi
