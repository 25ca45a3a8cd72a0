#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan; build folder build/fuzz)
# and runs each for SECONDS, one after the other, niced, on one core.
#   fuzz/run.sh SECONDS [TARGET...]
# Corpora grow in fuzz/corpus/<target>/ (seeded by make_seeds.py when empty). Every input
# that finds a fault is copied to fuzz/regressions/<target>/: commit it, and ./test.sh
# replays it. Inputs kept there from earlier runs are replayed here first.
set -euo pipefail
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
cd "$(dirname "$0")/.."
scripts/install-deps.sh --fuzz
targets=(marlin_list_fuzzer marlin_span_fuzzer marlin_convert_fuzzer stub_extract_fuzzer sluice_fuzzer sluice_codec_fuzzer)
[[ $# -gt 0 ]] && targets=("$@")

build=build/fuzz
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DTESSERA_FUZZ=ON -DTESSERA_TESTS=OFF >/dev/null
nice cmake --build "$build" -j1 --target "${targets[@]}"
python3 fuzz/make_seeds.py fuzz/corpus

# The targets write their scratch files here; a crashing run leaves its files behind.
export TMPDIR=$PWD/$build/tmp
status=0
summary=()
for t in "${targets[@]}"; do
  exe=$(find "$build" -type f -name "$t" -perm -u+x | head -1)
  corpus=fuzz/corpus/$t regress=fuzz/regressions/$t artifacts=$build/artifacts/$t log=$build/$t.log
  rm -rf "$artifacts" "$TMPDIR"
  mkdir -p "$corpus" "$regress" "$artifacts" "$TMPDIR"
  if compgen -G "$regress/*" >/dev/null; then
    if ! nice "$exe" -runs=0 -timeout=10 -close_fd_mask=3 "$regress"/* >"$build/$t.replay.log" 2>&1; then
      echo "$t: an input kept in $regress fails again (see $build/$t.replay.log)" >&2
      status=1
    fi
  fi
  # A finding ends a libFuzzer run; it is started again on the grown corpus until the
  # time is used up, so that one fault does not hide the next. (Fork mode would go on by
  # itself but runs many times slower here.)
  : >"$log"
  deadline=$((SECONDS + seconds))
  while ((SECONDS < deadline)); do
    started=$SECONDS
    nice -n 10 "$exe" -max_total_time=$((deadline - SECONDS)) -timeout=10 -rss_limit_mb=2048 -max_len=131072 \
      -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >>"$log" 2>&1 || true
    ((SECONDS - started >= 2)) || break  # fails at once: the corpus itself is at fault
  done
  found=0
  for f in "$artifacts"/*; do
    [[ -f "$f" ]] || continue
    cp "$f" "$regress/"
    found=$((found + 1))
  done
  execs=$(awk '/stat::number_of_executed_units/ {n += $2} END {print n + 0}' "$log")
  summary+=("$t: ${execs:-0} executions, $found new finding(s) in $seconds s")
  [[ $found -eq 0 ]] || status=1
done
rm -rf "$TMPDIR"
printf '%s\n' "${summary[@]}"
exit $status
