#!/usr/bin/env bash
# Local timing of the compressor library against Info-ZIP zip (not a test; the end-to-end
# benchmark lives under bench/). Usage: kiln/tests/measure.sh BUILD_DIR [MEGABYTES]
# Makes a mixed tree of about 2,000 files in a fresh temporary folder, then adds it at
# levels 6 and 9 with zip and with the library, and deletes one entry with both.
set -euo pipefail
build=$(realpath "$1"); mb=${2:-500}
cmake --build "$build" --target kiln kiln_measure >/dev/null
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
python3 - "$work/tree" "$mb" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) << 20
rnd = random.Random(7)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 10))) for _ in range(5000)]
sizes = [rnd.randint(200, 60000) for _ in range(1980)]
big = max(total - sum(sizes), 20 << 20)
sizes += [big // 20] * 20
for i, size in enumerate(sizes):
    d = os.path.join(root, 'd%02d' % (i % 40), 's%d' % (i % 3))
    os.makedirs(d, exist_ok=True)
    kind = i % 4
    with open(os.path.join(d, 'f%04d.%s' % (i, 'txt' if kind < 2 else 'bin')), 'wb') as f:
        if kind < 2:   # text
            out = bytearray()
            while len(out) < size:
                out += (' '.join(rnd.choices(words, k=12)) + '\n').encode()
            f.write(out[:size])
        elif kind == 2:  # compressible binary: repeated records with noise
            rec = rnd.randbytes(64)
            out = bytearray()
            while len(out) < size:
                out += rec[:48] + rnd.randbytes(16)
            f.write(out[:size])
        else:          # incompressible
            f.write(rnd.randbytes(size))
PY
cd "$work/tree"
echo "tree: $(find . -type f | wc -l) files, $(du -sm . | cut -f1) MB"
run() {  # label, command...
  sync
  local label=$1; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  read -r secs user sys rss <"$work/time"
  printf '%-22s %7.2f s  (cpu %6.2f s)  %6d MB peak RSS\n' "$label" "$secs" "$(echo "$user + $sys" | bc)" $((rss / 1024))
}
for level in 6 9; do
  rm -f "$work/z.zip" "$work/k.zip"
  run "zip -$level" zip -q -r -$level "$work/z.zip" .
  run "kiln level $level" "$build/kiln/tests/kiln_measure" "$build/lib/libkiln.so" "$work/k.zip" $level .
  printf '%-22s zip %d bytes, kiln %d bytes\n' "sizes" "$(stat -c %s "$work/z.zip")" "$(stat -c %s "$work/k.zip")"
done
cp "$work/z.zip" "$work/z2.zip"
run "zip -d" zip -q -d "$work/z.zip" d05/s2/f0005.txt
# The library flushes the new archive to disk before it replaces the old one; zip does not.
run "zip -d, then sync" sh -c "zip -q -d '$work/z2.zip' d05/s2/f0005.txt && sync '$work/z2.zip'"
run "kiln delete" "$build/kiln/tests/kiln_measure" "$build/lib/libkiln.so" "$work/k.zip" 6 -d d05/s2/f0005.txt
unzip -tq "$work/k.zip"
