#!/usr/bin/env bash
# The desktop program's add, extract, test and delete against the same tessera-cli
# commands on the same files, in alternating rounds; prints the median times and the
# ratio app / CLI. The program's time runs from the button that starts the work (the
# dialog's OK, where there is a dialog) to the command's last box, with the refill of the
# grid after an add or delete; the windows are open and the archive listed before. The
# CLI's time is its whole process.
# Usage: bench/app_commands.sh [ROUNDS (3)] [SCALE (0.25)] [ENTRIES (200000)]
#   SCALE: of bench/make_tree.py's tree (1.0 = 2,000 files, 485 MB)
#   ENTRIES: the many-entries archive that is tested and extracted
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
scale=${2:-0.25}
entries=${3:-200000}
src=$PWD

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" --target app_commands tessera-cli >/dev/null
cli=$src/build/release/cli/tessera-cli
app=$src/build/release/bench/app_commands
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/tessera-app-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 "$src/bench/make_tree.py" tree "$scale" >/dev/null
zip -q -r -6 tree.zip tree
python3 - many.zip "$entries" <<'PY'
import sys, zipfile
path, count = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:
    for i in range(count):
        z.writestr('project/module%03d/src/file_%06d.txt' % (i % 500, i), b'line %d\n' % i)
PY
victim=$(unzip -Z1 tree.zip | grep -v '/$' | sed -n 100p)

declare -A series
now() { date +%s.%N; }
cli_run() {  # name command...
  local name=$1 t0 t1
  shift
  sync
  t0=$(now)
  "$@" >/dev/null 2>run.txt || { echo "failed: $*" >&2; cat run.txt >&2; exit 1; }
  t1=$(now)
  series[$name]+=" $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')"
}
app_run() {  # name arguments...
  local name=$1 t
  shift
  sync
  t=$("$app" "$@" 2>run.txt) || { echo "failed: app_commands $*" >&2; cat run.txt >&2; exit 1; }
  series[$name]+=" $t"
}

for ((r = 1; r <= rounds; r++)); do
  rm -f cli-add.zip app-add.zip
  cli_run "add cli" "$cli" add -q -r cli-add.zip tree
  app_run "add app" add app-add.zip tree
  rm -rf out-cli out-app
  cli_run "extract cli" "$cli" extract -q -o -d out-cli tree.zip
  app_run "extract app" extract tree.zip out-app
  cli_run "test cli" "$cli" test -q tree.zip
  app_run "test app" test tree.zip
  cp tree.zip del-cli.zip && cp tree.zip del-app.zip
  cli_run "delete cli" "$cli" delete -q del-cli.zip "$victim"
  app_run "delete app" delete del-app.zip "$victim"
  cli_run "test many cli" "$cli" test -q many.zip
  app_run "test many app" test many.zip
  rm -rf many-cli many-app
  cli_run "extract many cli" "$cli" extract -q -o -d many-cli many.zip
  app_run "extract many app" extract many.zip many-app
  echo "round $r done" >&2
done

# Both did the same work.
diff -r out-cli/tree out-app/tree >/dev/null || { echo "the program extracted something else" >&2; exit 1; }
[[ $(unzip -Z1 del-cli.zip | wc -l) == $(unzip -Z1 del-app.zip | wc -l) ]] || { echo "delete differs" >&2; exit 1; }
[[ $(find many-app -type f | wc -l) == "$entries" ]] || { echo "the program extracted too few" >&2; exit 1; }

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo
echo "tree: $(find tree -type f | wc -l) files, $(du -sb tree | cut -f1) bytes; many.zip: $entries entries;" \
  "$rounds rounds, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '| %-28s | %9s | %9s | %8s |\n' "command" "cli s" "app s" "app/cli"
printf '|%s|%s|%s|%s|\n' "------------------------------" "-----------" "-----------" "----------"
for c in "add" "extract" "test" "delete" "test many" "extract many"; do
  a=$(echo "${series[$c app]}" | median)
  b=$(echo "${series[$c cli]}" | median)
  printf '| %-28s | %9.3f | %9.3f | %7.2fx |\n' "$c" "$b" "$a" "$(awk -v a="$a" -v b="$b" 'BEGIN { print (b > 0) ? a / b : 0 }')"
done
