#!/usr/bin/env bash
# ensure_packages (scripts/packages.sh) run as root with packages missing, against
# stand-ins for id, dpkg-query and apt-get: it prints one line of its own and
# none of apt's, unless apt fails, when apt's output is shown and it fails too.
#   bash packages_test.sh <path of packages.sh>
set -u
source "$1"
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
printf '#!/bin/sh\necho 0\n' >"$stubs/id"
printf '#!/bin/sh\nexit 1\n' >"$stubs/dpkg-query"
printf '#!/bin/sh\nfor i in 1 2 3; do echo "Unpacking part $i"; done\nexit ${APT_STATUS:-0}\n' \
  >"$stubs/apt-get"
chmod +x "$stubs"/*

failed=0
out=$(PATH="$stubs:$PATH" ensure_packages pkg-one pkg-two 2>&1)
status=$?
if [ $status -ne 0 ] || [ "$(printf '%s\n' "$out" | wc -l)" -ne 1 ] ||
   [[ "$out" != *pkg-one*pkg-two* ]]; then
  printf 'apt succeeding: status %d, output:\n%s\n' $status "$out"
  failed=1
fi
out=$(APT_STATUS=100 PATH="$stubs:$PATH" ensure_packages pkg-one 2>&1)
status=$?
if [ $status -eq 0 ] || [[ "$out" != *"Unpacking part 3"* ]]; then
  printf 'apt failing: status %d, output:\n%s\n' $status "$out"
  failed=1
fi
exit $failed
