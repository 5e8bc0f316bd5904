#!/usr/bin/env bash
# Sets up, builds and starts Program Update Tool.
#
# With no box of your own it starts two simulated boxes (boxsim) on
# pseudo-terminals and points the program's ports at them:
#   COM1  a box in its boot monitor: Send and Erase App talk to it;
#   COM2  a box that uploads its channel area: choose COM2, then Recieve.
# Sample images go to build/samples/ for Browse. To use a real box instead, set
# UPDATETOOL_COM1 (e.g. UPDATETOOL_COM1=/dev/ttyUSB0 ./run.sh) or pick its device
# from the port list. UPDATETOOL_DEMO_BAUD (default 115200, 0 = unthrottled) sets
# how fast the simulated boxes talk.
# Without a display it runs the headless demo (scripts/demo.sh) instead.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display (\$DISPLAY and \$WAYLAND_DISPLAY are unset), so no windows;"
  echo "running the headless demo instead."
  exec ./scripts/demo.sh "$@"
fi

app=build/src/app/updatetool
cli=build/src/cli/updatetool-cli
boxsim=build/tools/boxsim/boxsim
if [ ! -x "$app" ]; then
  echo "run.sh: $app was not built; running the headless demo instead." >&2
  exec ./scripts/demo.sh "$@"
fi

if [ -n "${UPDATETOOL_COM1:-}" ]; then
  echo "run.sh: COM1 is $UPDATETOOL_COM1 (your box)."
  exec "$app"
fi

# CRC-16/XMODEM of the byte values given as arguments.
crc16() {
  local crc=0 byte bit
  for byte in "$@"; do
    crc=$(( crc ^ (byte << 8) ))
    for bit in 1 2 3 4 5 6 7 8; do
      if (( crc & 0x8000 )); then crc=$(( ((crc << 1) ^ 0x1021) & 0xFFFF )); else crc=$(( (crc << 1) & 0xFFFF )); fi
    done
  done
  echo "$crc"
}

# A 64 KiB application image whose header check holds, for when the command
# line cannot write the samples.
write_app_image() {
  local path=$1 body
  body=$(mktemp)
  head -c 65520 /dev/urandom > "$body"
  # shellcheck disable=SC2046
  local check=$(( $(crc16 $(printf 'VORNRUNSHAPP' | od -An -tu1)) ^ $(crc16 $(od -An -tu1 -j86 -N2 "$body")) ))
  { printf 'VORNRUNSHAPP\x00\x00'
    printf "\\x$(printf %02x $(( check >> 8 )))\\x$(printf %02x $(( check & 0xFF )))"
    cat "$body"; } > "$path"
  rm -f "$body"
}

samples=build/samples
mkdir -p "$samples"
if ! "$cli" samples "$samples" >/dev/null 2>&1 || [ ! -f "$samples/app.img" ]; then
  write_app_image "$samples/app.img"
fi
# The uploading box sends what a box holds in its channel area.
upload=$samples/app.img
if [ -f "$samples/channels.img" ]; then
  upload=$samples/box-channel-area.bin
  tail -c +17 "$samples/channels.img" > "$upload"
fi

box_caller=run.sh
# shellcheck source=scripts/boxsim-lib.sh
. scripts/boxsim-lib.sh
box_errors=$work/boxsim.err

baud=${UPDATETOOL_DEMO_BAUD:-115200}
start_box --baud "$baud" --erase-ms 1500 --save "$samples/box-received-by-com1.img"
export UPDATETOOL_COM1=$box_device
start_box --role upload --baud "$baud" --file "$upload"
export UPDATETOOL_COM2=$box_device

echo "run.sh: simulated boxes at ${baud} baud:"
echo "  COM1 = $UPDATETOOL_COM1  takes images: Browse to $samples/app.img, then Send; or Erase App"
echo "  COM2 = $UPDATETOOL_COM2  uploads its channel area: choose COM2, then Recieve"
"$app"
