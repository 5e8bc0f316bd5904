#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and fuzzes the channel image loader and the
# transponder table reader for about a minute each (FUZZ_SECONDS to change). Exits non-zero when the fuzzer finds a
# crash or a sanitizer report; the input that caused it is kept in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
build=build-fuzz

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz-smoke: clang++ is missing (scripts/setup.sh installs it)" >&2
  exit 1
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
      -DUPDATETOOL_FUZZ=ON -DUPDATETOOL_GUI=OFF -DUPDATETOOL_TESTS=OFF -DUPDATETOOL_BENCH=OFF >/dev/null
cmake --build "$build" --target channel_load_fuzz write_full_image_seed transponder_table_fuzz

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
# Seeds: an empty file, a short raw file, and a patch over the sample image.
printf '\x00' >"$corpus/empty"
printf '\x00QVCH0201' >"$corpus/header-only"
printf '\x01\x00\x00\x10\x04\xff\xff\xff\xff' >"$corpus/first-slot-emptied"
# A whole channel image in whole-file mode: the mode byte and 851,984 bytes, so
# mutations reach the load of a full-size file, not only the short-file path.
"$build/fuzz/write_full_image_seed" "$corpus/full-image"
max_len=$(( 1 + 851984 ))

echo "== fuzzing the channel image loader for ${seconds}s =="
"$build/fuzz/channel_load_fuzz" -max_total_time="$seconds" -max_len="$max_len" -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/" "$corpus"

tables="$(mktemp -d)"
trap 'rm -rf "$corpus" "$tables"' EXIT
# Seeds: a scan file of dtv-scan-tables where it is installed, and a small satellites.xml.
if [ -f /usr/share/dvb/dvb-s/Hotbird-13.0E ]; then
  cp /usr/share/dvb/dvb-s/Hotbird-13.0E "$tables/"
fi
printf '[CHANNEL]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11719500\n\tPOLARIZATION = HORIZONTAL\n\tSYMBOL_RATE = 27500000\n' >"$tables/scan"
printf '<?xml version="1.0"?>\n<!-- x --><satellites><sat name="A &amp; B&#x41;" position="-300"><transponder frequency="10719000" symbol_rate="27500000" polarization="1" system="1"/><![CDATA[ y ]]></sat></satellites>\n' >"$tables/satellites.xml"

echo "== fuzzing the transponder table reader for ${seconds}s =="
"$build/fuzz/transponder_table_fuzz" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/" "$tables"
