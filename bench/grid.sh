#!/usr/bin/env bash
# Builds Tessera (Release) and runs the grid benchmark: TSortGrid against Qt's
# QSortFilterProxyModel over a QStandardItemModel, then painting and scrolling.
# Usage: bench/grid.sh [ROWS] [LOCALE]   (default 200000 rows, en_US)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2 --target grid_bench >/dev/null
QT_QPA_PLATFORM=offscreen build/release/bench/grid_bench "$@"
