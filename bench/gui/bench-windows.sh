#!/usr/bin/env bash
# CPU cost of the windows: a 1 MiB send at 115200 baud from the command line and
# then through the main and transfer windows, in one run (about 3 minutes).
# Uses Xvfb when it is installed, so the windows really draw; else offscreen.
set -euo pipefail
cd "$(dirname "$0")/../.."
# The same optimised build run.sh makes; BUILD_DIR picks another.
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target windows_bench
bench=$build/bench/gui/windows_bench
if command -v xvfb-run >/dev/null 2>&1; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$bench" "$@"
else
  QT_QPA_PLATFORM=offscreen "$bench" "$@"
fi
