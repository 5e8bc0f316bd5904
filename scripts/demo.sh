#!/usr/bin/env bash
# Shows the transfer side at work against the simulated box: send an image,
# erase the application area, and receive an upload. Needs a build in build/
# (run.sh makes one); BUILD_DIR picks another.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cli=$build/src/cli/updatetool-cli
boxsim=$build/tools/boxsim/boxsim
for tool in "$cli" "$boxsim"; do
  if [ ! -x "$tool" ]; then
    echo "demo: $tool is missing; build first (./run.sh)" >&2
    exit 1
  fi
done

box_caller=demo
# shellcheck source=scripts/boxsim-lib.sh
. scripts/boxsim-lib.sh

# A sample application image from the channel tools when they are built,
# otherwise a small channel image (it needs no header check).
image=
if "$cli" samples "$work/samples" >/dev/null 2>&1 && [ -f "$work/samples/app.img" ]; then
  image=$work/samples/app.img
else
  image=$work/demo-channel.img
  { printf 'QVCH'; head -c 65532 /dev/urandom; } > "$image"
fi
size=$(stat -c %s "$image")

echo "== Program Update Tool demo: a simulated box on a pseudo-terminal =="
start_box --save "$work/box-saved.img" --log "$work/box.log" --erase-ms 300
echo "Box monitor on $box_device"

echo
echo "-- send $(basename "$image") ($size bytes)"
"$cli" send --port "$box_device" "$image"
if cmp -s "$image" "$work/box-saved.img"; then
  echo "=> the box stored an identical copy of all $size bytes"
else
  echo "=> the box's copy differs!" >&2
  exit 1
fi

echo
echo "-- erase the application area"
"$cli" erase --port "$box_device"
echo "=> the box logged: $(grep -c 'command QV_ERASEALL' "$work/box.log") erase command(s)"

echo
echo "-- receive an upload from the box"
start_box --role upload --file "$image" --sessions 1
"$cli" receive --port "$box_device" "$work/received.img"
received=$(stat -c %s "$work/received.img")
if [ "$(head -c 16 "$work/received.img")" = "VORN LUMEN CORP " ] &&
   cmp -s <(tail -c +17 "$work/received.img") "$image"; then
  echo "=> received.img: the 16-byte signature and the $size uploaded bytes ($received bytes)"
else
  echo "=> received.img is not what the box sent!" >&2
  exit 1
fi
echo
echo "Demo finished: send, erase and receive all worked."
