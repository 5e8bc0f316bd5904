#!/usr/bin/env bash
# A long fuzz run: every libFuzzer target for SECONDS each (default an hour).
set -euo pipefail
cd "$(dirname "$0")/.."
exec ./scripts/fuzz-run.sh "${1:-3600}"
