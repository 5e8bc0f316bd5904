#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS_EACH seconds,
# starting from the seeds build-fuzz/seeds/ gets. Used by fuzz-smoke.sh (CI's short
# run) and fuzz-long.sh. Exits non-zero when a fuzzer finds a crash or a sanitizer
# report; the input that caused it is kept in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds_each="${1:?seconds per target}"
build=build-fuzz

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
      -DUPDATETOOL_FUZZ=ON -DUPDATETOOL_GUI=OFF -DUPDATETOOL_TESTS=OFF -DUPDATETOOL_BENCH=OFF >/dev/null
cmake --build "$build" --target channel_load_fuzz csv_apply_order_fuzz edit_commands_fuzz transponder_table_fuzz \
      write_fuzz_seeds

seeds="$(mktemp -d)"
trap 'rm -rf "$seeds"' EXIT
"$build/fuzz/write_fuzz_seeds" "$seeds"
# The loader also starts from an empty file, a header alone and a patch over the sample.
printf '\x00' >"$seeds/load/empty"
printf '\x00QVCH0201' >"$seeds/load/header-only"
printf '\x01\x00\x00\x10\x04\xff\xff\xff\xff' >"$seeds/load/first-slot-emptied"
# The transponder tables: a scan file of dtv-scan-tables where it is installed, and
# small forms of both kinds.
mkdir -p "$seeds/tables"
if [ -f /usr/share/dvb/dvb-s/Hotbird-13.0E ]; then
  cp /usr/share/dvb/dvb-s/Hotbird-13.0E "$seeds/tables/"
fi
printf '[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11719500\n\tPOLARIZATION = HORIZONTAL\n\tSYMBOL_RATE = 27500000\n' >"$seeds/tables/scan"
printf '<?xml version="1.0"?>\n<!-- x --><satellites><sat name="A &amp; B&#x41;" position="-300"><transponder frequency="10719000" symbol_rate="27500000" polarization="1" system="1"/><![CDATA[ y ]]></sat></satellites>\n' >"$seeds/tables/satellites.xml"

run() {
  local name="$1" corpus="$2" max_len="$3"
  echo "== fuzzing $name for ${seconds_each}s =="
  "$build/fuzz/$name" -max_total_time="$seconds_each" -max_len="$max_len" -timeout=20 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/$name-" "$corpus"
}
# A whole full-size image and its mode byte.
run channel_load_fuzz "$seeds/load" $(( 1 + 851984 ))
run csv_apply_order_fuzz "$seeds/csv" 65536
run edit_commands_fuzz "$seeds/edits" 512
run transponder_table_fuzz "$seeds/tables" 65536
