#!/usr/bin/env bash
# The Windows command line, built optimised with mingw-w64 and run under Wine
# against a simulated box on the Wine prefix's COM5, in one step:
#   scripts/windows-cli.sh                  sends the sample app.img to the simulated box
#   scripts/windows-cli.sh ARGS...          runs updatetool-cli.exe ARGS (COM5 is the box)
# UPDATETOOL_WINE_COM5=/dev/ttyUSB0 points COM5 at a real box instead. Wine's own
# output goes to build-win/wine.log, not the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh >/dev/null
./scripts/setup-windows.sh >/dev/null
# The Linux build brings the simulated box and the sample images.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target boxsim updatetool-cli >/dev/null
# Release: the optimised, stripped exe (about 1.5 MB), not an unoptimised one.
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win --target updatetool-cli >/dev/null
exe=build-win/src/cli/updatetool-cli.exe
x86_64-w64-mingw32-strip "$exe"

boxsim=build/tools/boxsim/boxsim
box_caller=windows-cli
box_errors=build-win/boxsim.log
# shellcheck source=boxsim-lib.sh
source scripts/boxsim-lib.sh

# The build's wrapper knows its prefix and keeps Wine's debug output quiet.
wine_run=build-win/wine-run.sh
WINEPREFIX=$(sed -n 's/^export WINEPREFIX="${WINEPREFIX:-\(.*\)}"$/\1/p' "$wine_run")
export WINEPREFIX WINEDEBUG=-all
log=$PWD/build-win/wine.log
"$wine_run" cmd /c exit >>"$log" 2>&1   # makes the prefix when it is not there yet
# A server of our own, with its reports (every hang-up of the box's terminal) in
# the log: otherwise they fill the terminal.
wineserver -k >>"$log" 2>&1 || true
wineserver -w >>"$log" 2>&1 || true
wineserver -p >>"$log" 2>&1 &
trap 'wineserver -k >>"$log" 2>&1 || true; cleanup' EXIT

if [ -n "${UPDATETOOL_WINE_COM5:-}" ]; then
  device=$UPDATETOOL_WINE_COM5
else
  start_box --log "$work/box.log"
  device=$box_device
fi
ln -sfn "$device" "$WINEPREFIX/dosdevices/com5"

if [ $# -eq 0 ]; then
  build/src/cli/updatetool-cli samples "$work/samples" >/dev/null
  set -- send --port COM5 "Z:$work/samples/app.img"
  echo "windows-cli: wine $exe $*" >&2
fi
status=0
"$wine_run" "$exe" "$@" || status=$?
exit "$status"
