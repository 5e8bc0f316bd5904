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

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
