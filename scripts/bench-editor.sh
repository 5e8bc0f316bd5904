#!/usr/bin/env bash
# Builds the channel editor benchmark in Release and runs it on the full sample image
# (7000 TV + 2000 radio channels): opening, refilling, dragging 1,000 rows, "Delete All"
# and memory, against loading the same file in the same run. Draws offscreen unless
# QT_QPA_PLATFORM says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=build-bench-editor
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATETOOL_TESTS=OFF -DUPDATETOOL_BENCH=ON >/dev/null
cmake --build "$build" --target editor_bench -j2
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec "$build/bench/gui/editor_bench" "${1:-.}"
