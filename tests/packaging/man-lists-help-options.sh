#!/usr/bin/env bash
# Fails when an option PROGRAM's --help lists is missing from its manual page, so
# the two cannot drift apart. Usage: man-lists-help-options.sh PROGRAM MANPAGE
set -euo pipefail
program="$1"
manpage="$2"
# roff writes a dash in an option as \-
page=$(sed 's/\\-/-/g' "$manpage")
missing=0
for option in $(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help | grep -oE -- '(^|[ ,[])--?[A-Za-z][A-Za-z0-9-]*' \
                | sed 's/^[ ,[]//' | sort -u); do
  if ! grep -qF -- "$option" <<<"$page"; then
    echo "$(basename "$manpage"): $option from '$(basename "$program") --help' is missing" >&2
    missing=1
  fi
done
exit "$missing"
