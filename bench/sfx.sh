#!/usr/bin/env bash
# Converting a 1 GiB archive to a self-extracting program and back: tessera-cli sfx and
# unsfx against `cat stub archive.zip > out.exe && zip -A out.exe`, side by side.
# Usage: bench/sfx.sh [MiB] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-1024}
rounds=${2:-3}
scripts/install-deps.sh
cmake -S . -B build/bench-sfx -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench-sfx -j2 --target tessera-cli >/dev/null
cli=$PWD/build/bench-sfx/cli/tessera-cli
stub=$PWD/build/bench-sfx/cli/Stubby.bin

work=$PWD/bench/out/sfx
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
# Stored, incompressible data, so that the archive is as large as asked.
mkdir "$work/data"
for ((i = 0; i < mib / 128; i++)); do head -c 128M /dev/urandom > "$work/data/part$i.bin"; done
(cd "$work" && zip -q -0 -r big.zip data && rm -rf data)
cp "$work/big.zip" "$work/ref.zip" && "$cli" sfx --no-trash "$work/ref.zip" >/dev/null
echo "archive: $(stat -c %s "$work/big.zip") bytes; stub: $(stat -c %s "$stub") bytes"

# Each tessera round converts a fresh hard link, so the file it consumes costs no copy.
cd "$work"
python3 ../../compare.py "$rounds" \
  "cat stub + zip -A=cat $stub big.zip > out.exe && zip -q -A out.exe" \
  "tessera-cli sfx=ln -f big.zip t.zip && $cli sfx --no-trash t.zip" \
  "tessera-cli unsfx=ln -f ref.exe u.exe && $cli unsfx --no-trash u.exe"
# The programs made both ways are archives that unzip accepts.
unzip -tq out.exe >/dev/null && unzip -tq t.exe >/dev/null && cmp -s u.zip big.zip && echo "outputs checked"
