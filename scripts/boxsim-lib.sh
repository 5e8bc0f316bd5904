# shellcheck shell=bash
# shellcheck disable=SC2154 # boxsim and box_caller come from the sourcing script
# Sourced by run.sh and scripts/demo.sh: simulated boxes (boxsim) in the
# background, stopped, and the scratch folder removed, when the script exits.
#
# The sourcing script sets, before it calls start_box:
#   boxsim      the boxsim program
#   box_caller  the name its error messages start with
#   box_errors  optional: a file for boxsim's own error output (else the terminal)
# Sourcing makes the scratch folder $work.

work=$(mktemp -d)
box_pids=()
cleanup() {
  for pid in "${box_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts boxsim in the background and sets box_device from the first line it prints.
start_box() {
  local out=$work/box-${#box_pids[@]}.out
  if [ -n "${box_errors:-}" ]; then
    "$boxsim" "$@" > "$out" 2>> "$box_errors" &
  else
    "$boxsim" "$@" > "$out" &
  fi
  box_pids+=($!)
  box_device=
  for _ in $(seq 50); do
    if [ -s "$out" ]; then box_device=$(head -n 1 "$out"); break; fi
    sleep 0.1
  done
  if [ -z "$box_device" ]; then
    echo "$box_caller: boxsim did not start" >&2
    exit 1
  fi
}
