#!/usr/bin/env bash
# CI's fuzz smoke run: every libFuzzer target shares about a minute (FUZZ_SECONDS).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${FUZZ_SECONDS:-60}"
exec ./scripts/fuzz-run.sh $(( (seconds + 3) / 4 ))
