#!/usr/bin/env bash
# Builds the Debian package from build/, installs it, checks that both programs
# start from their installed paths and that the package holds what it should, then
# removes it again. Needs root (CI runs as root).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build --target package >/dev/null
deb=$(ls build/updatetool_*_*.deb | head -1)
echo "package: $deb"
listing=$(dpkg-deb -c "$deb")
for wanted in ./usr/bin/updatetool ./usr/bin/updatetool-cli ./usr/share/applications/updatetool.desktop \
              ./usr/share/icons/hicolor/128x128/apps/updatetool.png ./usr/share/man/man1/updatetool-cli.1.gz \
              ./usr/share/man/man1/updatetool.1.gz ./usr/share/doc/updatetool/copyright \
              ./usr/share/doc/updatetool/changelog.gz \
              ./usr/share/doc/updatetool/README.md ./usr/share/doc/updatetool/editor.html; do
  if ! grep -q " $wanted\$" <<<"$listing"; then
    echo "package-test: $wanted is missing from the package" >&2
    exit 1
  fi
done
# Debian's own checks: every error and warning fails the run.
if ! lintian --fail-on error,warning "$deb" > build/lintian.log 2>&1; then
  grep -v '^running with root privileges' build/lintian.log >&2
  echo "package-test: lintian found errors or warnings (above)" >&2
  exit 1
fi
echo "package-test: lintian passed"
dpkg -i "$deb" >/dev/null
trap 'dpkg -r updatetool >/dev/null 2>&1 || true' EXIT
/usr/bin/updatetool-cli --help >/dev/null
# Both answer --help and --version without a display.
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= /usr/bin/updatetool --version | grep -q '^updatetool [0-9]'
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= /usr/bin/updatetool --help | grep -q -- '--version'
man -l /usr/share/man/man1/updatetool.1.gz >/dev/null 2>&1 || { echo "package-test: man page unreadable" >&2; exit 1; }
# The windows program takes no options: it counts as started when it is still running
# its main window after a few seconds (timeout then ends it with 124).
status=0
QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/updatetool >/dev/null 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  echo "package-test: the installed updatetool exited with $status instead of running" >&2
  exit 1
fi
desktop-file-validate /usr/share/applications/updatetool.desktop 2>/dev/null || true
dpkg -r updatetool >/dev/null
trap - EXIT
if [ -e /usr/bin/updatetool ]; then
  echo "package-test: removal left /usr/bin/updatetool behind" >&2
  exit 1
fi
echo "package-test: installed, started and removed cleanly"
