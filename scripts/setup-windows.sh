#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need (Debian 12's
# mingw-w64 with posix threads, and the 64-bit Wine), only the missing ones.
# Separate from setup.sh, so building for Linux never pulls in Wine.
set -euo pipefail

packages=(
  g++-mingw-w64-x86-64-posix
  wine64 wine
  libgtest-dev
)

exec "$(dirname "$0")/install-missing.sh" "${packages[@]}"
