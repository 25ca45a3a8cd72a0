#!/usr/bin/env bash
# Builds Tessera (Release) and starts the desktop program with the given arguments
# (an archive to open).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j"$(nproc)" >/dev/null
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && -z "${QT_QPA_PLATFORM:-}" ]]; then
  echo "run.sh: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so Tessera" >&2
  echo "cannot open its window. Without a desktop, use the command-line program:" >&2
  echo "  build/release/cli/tessera-cli --help" >&2
  exit 2
fi
if [[ -x build/release/app/tessera ]]; then
  exec build/release/app/tessera "$@"
fi
exec build/release/cli/tessera-cli "$@"
