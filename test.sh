#!/usr/bin/env bash
# Builds Tessera with its tests and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh --test
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_TESTS=ON >/dev/null
cmake --build build/test -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build/test --output-on-failure -j"$(nproc)" "$@"

# With TESSERA_SANITIZE=1, the archive component's tests again, built with
# AddressSanitizer and UndefinedBehaviorSanitizer in a second build folder.
if [[ "${TESSERA_SANITIZE:-0}" == 1 ]]; then
  cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSERA_TESTS=ON -DTESSERA_SANITIZE=ON >/dev/null
  cmake --build build/sanitize -j"$(nproc)" --target marlin_model_test marlin_list_test marlin_volume_test \
    marlin_sfx_test marlin_span_test
  ctest --test-dir build/sanitize --output-on-failure -j"$(nproc)" -R '^marlin_'
fi
