#!/usr/bin/env bash
# Builds Tessera (Release) and starts it with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" >/dev/null
if [[ -x build/release/app/tessera ]]; then
  exec build/release/app/tessera "$@"
fi
exec build/release/cli/tessera-cli "$@"
