#!/usr/bin/env bash
# The Windows command line against the simulated box, under Wine: a Wine prefix's
# COM5 is a symbolic link to boxsim's pseudo-terminal. Needs the Linux build
# (boxsim, the sample images) and the Windows build (updatetool-cli.exe, the Wine
# wrapper and prefix).
#   tests/wine/wine-e2e.sh [LINUX_BUILD [WINDOWS_BUILD]]   (default: build build-win)
set -euo pipefail
cd "$(dirname "$0")/../.."
linux_build=${1:-build}
windows_build=${2:-build-win}

boxsim=$linux_build/tools/boxsim/boxsim
box_caller=wine-e2e
# shellcheck source=../../scripts/boxsim-lib.sh
source scripts/boxsim-lib.sh

wine_run=$windows_build/wine-run.sh
exe=$windows_build/src/cli/updatetool-cli.exe
for needed in "$boxsim" "$wine_run" "$exe"; do
  [ -x "$needed" ] || { echo "wine-e2e: $needed is missing; build both trees first" >&2; exit 1; }
done
WINEPREFIX=$(sed -n 's/^export WINEPREFIX="${WINEPREFIX:-\(.*\)}"$/\1/p' "$wine_run")
export WINEPREFIX WINEDEBUG=-all
"$wine_run" cmd /c exit   # makes the prefix when it is not there yet

# A wineserver of our own for the whole run, so the jobs do not each start one,
# with its chatter (it reports every hang-up of the box's terminal) in a log
# rather than on the terminal of whoever started the prefix's server before.
wineserver -k > /dev/null 2>&1 || true
wineserver -w > /dev/null 2>&1 || true
wineserver -p > "$work/wineserver.log" 2>&1 &
trap 'wineserver -k 2>/dev/null || true; cleanup' EXIT

"$linux_build/src/cli/updatetool-cli" samples "$work/samples" > /dev/null
com5=$WINEPREFIX/dosdevices/com5
failures=0

# Windows sees the Linux file system as drive Z:.
winpath() { echo "Z:$1"; }

box() {
  start_box --log "$work/box.log" "$@"
  ln -sfn "$box_device" "$com5"
}

stop_box() {
  kill "${box_pids[-1]}" 2>/dev/null || true
  wait "${box_pids[-1]}" 2>/dev/null || true
  : > "$work/box.log"
}

# cli ARGS...: runs the Windows program; status in $status, stderr in $work/cli.err.
cli() {
  status=0
  timeout 60 "$wine_run" "$exe" "$@" > "$work/cli.out" 2> "$work/cli.err" || status=$?
}

check() {
  local what=$1; shift
  if "$@"; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    sed 's/^/      cli: /' "$work/cli.err" >&2
    failures=$((failures + 1))
  fi
}

wait_for_log() {
  for _ in $(seq 100); do
    grep -q "$1" "$work/box.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# Send: the box holds exactly the image's bytes.
box --save "$work/saved.bin"
cli send --port COM5 "$(winpath "$work/samples/app.img")"
check "send exits 0" test "$status" -eq 0
check "send arrives byte-exact" cmp -s "$work/samples/app.img" "$work/saved.bin"
stop_box

# Receive: the file is the signature and then the box's bytes.
box --role upload --file "$work/samples/channels.img"
cli receive --port COM5 "$(winpath "$work/received.img")"
check "receive exits 0" test "$status" -eq 0
check "receive starts with the signature" test "$(head -c 16 "$work/received.img")" = "VORN LUMEN CORP "
check "receive holds the box's bytes" cmp -s <(tail -c +17 "$work/received.img") "$work/samples/channels.img"
stop_box

box
cli erase --port COM5
check "erase exits 0" test "$status" -eq 0
check "erase sent QV_ERASEALL" grep -q "command QV_ERASEALL" "$work/box.log"
stop_box

box --refuse
cli send --port COM5 "$(winpath "$work/samples/channels.img")"
check "a refused update exits 6" test "$status" -eq 6
stop_box

box --hangup-after 5
cli send --port COM5 "$(winpath "$work/samples/channels.img")"
check "a hang-up exits 3" test "$status" -eq 3
stop_box

# A silent box: the caller's ESCs show its read time-out; a second job on the same
# port is refused; Ctrl-C (SIGINT, which Wine hands to the console's control
# handler) cancels the first.
box --silent
"$wine_run" "$exe" erase --port COM5 > /dev/null 2> "$work/first.err" &
first=$!
check "the job calls the silent box" wait_for_log "attention ignored"
cli erase --port COM5
check "a second job on the port exits 3" test "$status" -eq 3
sleep 2
kill -INT "$first"
first_status=0
wait "$first" || first_status=$?
# A program that Ctrl-C ended exits 0xC000013A; Wine hands Linux its low byte.
check "Ctrl-C cancels the job, then ends as Ctrl-C ends a program" test "$first_status" -eq 58
check "Ctrl-C reports Cancelled." grep -q "^Cancelled\." "$work/first.err"
gaps=$(grep -o 'attention again after [0-9]*' "$work/box.log" | awk '{print $4}' | sort -n)
count=$(echo "$gaps" | grep -c . || true)
median=$(echo "$gaps" | awk -v n="$count" 'NR == int((n + 1) / 2) {print $1 / 1000}')
mean=$(echo "$gaps" | awk '{s += $1} END {if (NR) printf "%.1f", s / NR / 1000}')
echo "      time-out model: one ESC every ${median:-?} ms (median; mean $mean ms over $count gaps)"
check "one ESC about every 31 ms" awk -v m="${median:-0}" 'BEGIN {exit !(m >= 28 && m <= 40)}'
stop_box

# Ctrl-C in the middle of a transfer: the box gets CAN CAN.
box --baud 11520
"$wine_run" "$exe" send --port COM5 "$(winpath "$work/samples/channels.img")" > /dev/null 2> "$work/first.err" &
first=$!
check "the transfer runs" wait_for_log "packet 2 ok"
kill -INT "$first"
first_status=0
wait "$first" || first_status=$?
check "Ctrl-C during the transfer ends as Ctrl-C ends a program" test "$first_status" -eq 58
check "the box got CAN CAN" wait_for_log "cancel received"
stop_box

rm -f "$com5"
if [ "$failures" -ne 0 ]; then
  echo "wine-e2e: $failures check(s) failed" >&2
  exit 1
fi
echo "wine-e2e: all checks passed"
