#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine.
#
# The prefix lives in the build folder (or $OSTRIVANE_WINEPREFIX). The first
# call creates it and starts a wineserver that stays up for a minute after
# its last client, with all its output detached: a wineserver started by a
# test whose output ctest reads through a pipe would hold that pipe open.
set -eu
wine=${OSTRIVANE_WINE:-/usr/lib/wine/wine64}
wineserver=${OSTRIVANE_WINESERVER:-/usr/lib/wine/wineserver64}
if [ -z "${OSTRIVANE_WINEPREFIX:-}" ]; then
  # The program sits somewhere below the build folder: use the nearest
  # folder above it that holds CMakeCache.txt.
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" != / ] || dir=$(cd "$(dirname "$1")" && pwd)
  OSTRIVANE_WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX="$OSTRIVANE_WINEPREFIX"
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts in a new prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$WINEPREFIX"
{
  flock 9
  # A newly started server gets its first client here, detached, so that the
  # helper processes it starts never hold the caller's output open.
  if "$wineserver" -p60 </dev/null >/dev/null 2>&1 9>&- || [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
  fi
} 9>"$WINEPREFIX/.ostrivane.lock"
exec "$wine" "$@"
