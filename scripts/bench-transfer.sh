#!/usr/bin/env bash
# Builds the transfer benchmarks in Release and runs them; each figure is a
# ratio against a baseline measured in the same run. Takes about a minute and a half.
# An argument picks one: lrzsz, throttled, idle or turnaround.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=build-bench-transfer
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATETOOL_GUI=OFF -DUPDATETOOL_TESTS=OFF \
      -DUPDATETOOL_BENCH=ON >/dev/null
cmake --build "$build" --target transfer_bench -j2
exec "$build/bench/transfer/transfer_bench" "$@"
