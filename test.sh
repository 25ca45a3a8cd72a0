#!/usr/bin/env bash
# Builds Tessera with its tests and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --test
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_TESTS=ON >/dev/null
cmake --build build/test -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure -j"$(nproc)" "$@"
