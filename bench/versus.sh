#!/usr/bin/env bash
# Tessera, Info-ZIP and 7-Zip side by side in one table: adding at levels 6 and 9 (with the
# archive sizes), extracting, testing, testing a Deflate64 archive (bench/deflate64.sh) and
# listing a million entries (bench/list.sh). The tree is real system files (system_tree.py:
# headers, message catalogues, shared libraries, links stored as links); it differs from
# machine to machine, so the figures to compare are the ratios within one run. Archives and
# extracted files stay on tmpfs (/dev/shm), so that writing back to a disk does not decide.
# Each job runs ROUNDS rounds, the tools taking turns; the table gives medians of wall time
# and, in brackets, of processor time (user + system), the steadier figure on a busy machine.
# Usage: bench/versus.sh [ROUNDS (3)] [ENTRIES (1000000)] [SCALE (1.0): of the tree's size]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
entries=${2:-1000000}
scale=${3:-1.0}
src=$PWD

scripts/install-deps.sh --test  # 7zz
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTESSERA_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target tessera-cli kiln sluice sluice_run >/dev/null
cli=$PWD/build/bench/cli/tessera-cli

base=/dev/shm
[[ -d $base && -w $base ]] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/tessera-versus-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
rows=$work/rows.tsv
touch "$rows"
python3 "$src/bench/system_tree.py" tree "$scale" >tree.txt
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); tree: $(cat tree.txt)" >&2
compare() { python3 "$src/bench/compare.py" "$rounds" --warm 0 --rows "$rows" "$@" >&2; }

echo "adding at level 6 (7zz -mx5) and 9 (7zz -mx9)..." >&2
for level in 6 9; do
  mx=$([[ $level == 6 ]] && echo 5 || echo 9)
  compare --job "add -$level" --before "rm -f \"\$NAME-$level.zip\"" \
    "Tessera=$cli add -q --hidden -$level -r Tessera-$level.zip tree" \
    "Info-ZIP=zip -q -$level -y -r Info-ZIP-$level.zip tree" \
    "7-Zip=7zz a -bd -tzip -mx$mx -snl 7-Zip-$level.zip tree >/dev/null"
done
# Every tool extracts and tests the same archive, Info-ZIP's at level 6.
echo "extracting and testing..." >&2
zip=Info-ZIP-6.zip
compare --job extract --before "rm -rf \"out-\$NAME\"" \
  "Tessera=$cli extract -q -d out-Tessera $zip" \
  "Info-ZIP=unzip -q $zip -d out-Info-ZIP" \
  "7-Zip=7zz x -bd -y -oout-7-Zip $zip >/dev/null"
compare --job test \
  "Tessera=$cli test -q $zip" \
  "Info-ZIP=unzip -tq $zip" \
  "7-Zip=7zz t -bd $zip >/dev/null"
# What was made is checked once: the extracted trees, and Tessera's archives by the peers.
for tool in Tessera Info-ZIP 7-Zip; do
  diff -r --no-dereference tree "out-$tool/tree" >/dev/null || { echo "$tool extracted another tree" >&2; exit 1; }
done
for level in 6 9; do
  unzip -tq "Tessera-$level.zip" >/dev/null && 7zz t "Tessera-$level.zip" >/dev/null ||
    { echo "the peers refuse Tessera-$level.zip" >&2; exit 1; }
done

echo "testing a Deflate64 archive..." >&2
BENCH_TREE=$work/tree BENCH_ROWS=$rows TMPDIR=$work "$src/bench/deflate64.sh" "$rounds" >&2
echo "listing $entries entries..." >&2
BENCH_ROWS=$rows TMPDIR=$work "$src/bench/list.sh" "$entries" "$rounds" >&2

python3 - "$rows" "$entries" "$rounds" <<'PY'
import os, sys
rows, entries, rounds = sys.argv[1], int(sys.argv[2]), sys.argv[3]
table = {}
for line in open(rows):
    job, name, wall, cpu, peak = line.rstrip('\n').split('\t')
    table.setdefault(job, {})[name] = (float(wall), float(cpu), int(peak))
tools = ('Tessera', 'Info-ZIP', '7-Zip')
def cell(m):
    return '%.2f (%.2f)' % m[:2] if m else '-'
def ratio(a, b):
    if not a or not b or b[0] <= 0 or b[1] <= 0:
        return '-'
    return '%.2fx (%.2fx)' % (a[0] / b[0], a[1] / b[1])
jobs = ['add -6', 'add -9', 'extract', 'test', 'Deflate64 test', 'list %d entries' % entries]
print('| job (%s rounds: median s wall (cpu)) | Tessera | Info-ZIP | 7-Zip | Tessera / Info-ZIP | Tessera / 7-Zip |'
      % rounds)
print('|---|---:|---:|---:|---:|---:|')
for job in jobs:
    m = table.get(job, {})
    print('| %s | %s | %s | %s | %s | %s |' % (job, *(cell(m.get(t)) for t in tools),
                                          ratio(m.get('Tessera'), m.get('Info-ZIP')),
                                          ratio(m.get('Tessera'), m.get('7-Zip'))))
size = lambda tool, level: os.path.getsize('%s-%s.zip' % (tool, level))
print()
for level, mx in (('6', '5'), ('9', '9')):
    ts, iz, sz = size('Tessera', level), size('Info-ZIP', level), size('7-Zip', level)
    line = 'level %s: Tessera %d bytes, zip -%s %d (Tessera %+.2f%%), 7zz -mx%s %d (Tessera %+.2f%%)' % (
        level, ts, level, iz, (ts - iz) * 100 / iz, mx, sz, (ts - sz) * 100 / sz)
    if level == '9':
        mx5 = size('7-Zip', 6)
        line += '; against 7zz -mx5 %+.2f%%' % ((ts - mx5) * 100 / mx5)
    print(line)
listing = table.get('list %d entries' % entries, {})
print('listing, peak memory: ' + ', '.join('%s %.1f MiB (%.0f bytes an entry)' % (t, listing[t][2] / 1024,
                                                                                listing[t][2] * 1024 / entries)
                                            for t in tools if t in listing))
print('add: Tessera -6 and -9 against zip -6 -y and -9 -y and 7zz a -tzip -mx5 and -mx9 (-snl); extract and test: '
      'tessera-cli, unzip, 7zz x and t on zip -6\'s archive; Deflate64 test: libsluice.so alone (bench/sluice_run), '
      'unzip -t and 7zz t on 7zz -mm=Deflate64\'s archive; list: tessera-cli list, unzip -Z1, 7zz l')
PY
