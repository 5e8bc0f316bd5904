#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need, but only
# the ones that are missing, so a second run costs a second.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev
  lrzsz
  clang
  xvfb xauth
  lintian
  libcli11-dev
  dtv-scan-tables
)

exec "$(dirname "$0")/install-missing.sh" "${packages[@]}"
