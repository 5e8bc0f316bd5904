#!/usr/bin/env bash
# Takes the README's pictures of every window into docs/: under Xvfb when it is
# installed (the windows as an X server draws them), else with Qt's offscreen
# platform. Builds what it needs in build/ (BUILD_DIR picks another).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target gui_screenshots
tool=$build/tests/gui/gui_screenshots
mkdir -p docs
if command -v xvfb-run >/dev/null 2>&1; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$tool" docs
else
  QT_QPA_PLATFORM=offscreen "$tool" docs
fi
