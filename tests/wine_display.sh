#!/usr/bin/env bash
# An X server for the Windows program's window tests under Wine, and a Wine
# prefix of their own whose desktop lives on that server. A Wine window
# needs a display, and Wine's desktop process stays on the display it was
# started with, so the window tests share one server and one prefix for a
# test run, apart from the build's other tests.
#
#   wine_display.sh start STATE
#       Starts Xvfb on a display number Xvfb finds free, and records the
#       display and the server's process in the folder STATE.
#   wine_display.sh exec STATE RUNNER PROGRAM [ARGUMENTS...]
#       Runs PROGRAM through RUNNER (cmake/wine-exec.sh) with the prefix
#       STATE/wineprefix and, once started, that display.
#   wine_display.sh stop STATE
#       Ends the prefix's wineserver, then the Xvfb that `start` recorded
#       (by its process number, checked against its start time).
set -eu
command=$1
state=$2
shift 2
prefix=$state/wineprefix
wineserver=${OSTRIVANE_WINESERVER:-/usr/lib/wine/wineserver64}

# The start time of process $1 (field 22 of /proc/PID/stat), or nothing.
start_time() {
  [ -r "/proc/$1/stat" ] || return 0
  sed 's/^.*) //' "/proc/$1/stat" | cut -d' ' -f20
}

case $command in
start)
  mkdir -p "$state"
  "$0" stop "$state"
  rm -f "$state/display.new"
  # Xvfb writes the display number to the file once it takes clients. Its
  # output goes to a file: ctest reads this script's output to the end.
  Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x1024x24 \
    5>"$state/display.new" </dev/null >"$state/xvfb.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    [ -s "$state/display.new" ] && break
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "Xvfb did not start:" >&2
      cat "$state/xvfb.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [ ! -s "$state/display.new" ]; then
    echo "Xvfb took no display within 10 s" >&2
    kill "$pid"
    exit 1
  fi
  echo "$pid $(start_time "$pid")" >"$state/xvfb.pid"
  echo ":$(head -n1 "$state/display.new")" >"$state/display"
  rm -f "$state/display.new"
  echo "Xvfb $pid on display $(cat "$state/display")"
  ;;
exec)
  runner=$1
  shift
  export OSTRIVANE_WINEPREFIX=$prefix
  if [ -f "$state/display" ]; then
    DISPLAY=$(cat "$state/display")
    export DISPLAY
  else
    unset DISPLAY
  fi
  exec "$runner" "$@"
  ;;
stop)
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
  fi
  if [ -f "$state/xvfb.pid" ]; then
    read -r pid started <"$state/xvfb.pid" || true
    if [ -n "${pid:-}" ] && [ -n "${started:-}" ] && [ "$(start_time "$pid")" = "$started" ]; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
    fi
    rm -f "$state/xvfb.pid"
  fi
  rm -f "$state/display"
  ;;
*)
  echo "usage: $0 start|exec|stop STATE ..." >&2
  exit 2
  ;;
esac
