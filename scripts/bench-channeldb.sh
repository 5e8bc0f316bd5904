#!/usr/bin/env bash
# Builds the channel database benchmark in Release and runs it: load, save and the
# text listing of the full sample image, each against plain file I/O of the same
# bytes in the same run. An argument names the folder for the temporary files
# (use one on a real disk for the flushed figures).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=build-bench-channeldb
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATETOOL_GUI=OFF -DUPDATETOOL_TESTS=OFF \
      -DUPDATETOOL_BENCH=ON >/dev/null
cmake --build "$build" --target channeldb_bench -j2
exec "$build/bench/channeldb/channeldb_bench" "${1:-.}"
