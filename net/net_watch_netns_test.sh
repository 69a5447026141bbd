#!/usr/bin/env bash
# The network watch of either build inside a network namespace of the
# test's own: loopback and a veth pair va/vb, both ends up, no addresses.
# The test program asks for each change by dropping a file ask-ID-CHANGE
# into the folder that OSTRIVANE_NETWATCH_STEPS names; this script makes
# the change and the program checks the notice that follows. Nothing is
# sent.
#
# "replace" makes the pair again under other names (vx/vy, then va/vb
# again): Wine's interface table keeps the number of the first interface it
# saw under a name, so an interface made again under the same name would
# show its old number there.
#
# Usage: net_watch_netns_test.sh NET_TESTS_EXE [WINEPREFIX]
# With a Wine prefix the program is the Windows build, run under Wine with
# a wineserver of this namespace. Exits 77 (skipped) where no user and
# network namespace can be made.
set -eu
exe=$1
prefix=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "$prefix" ]; then
  ns=(unshare --net --mount --map-root-user --propagation private)
else
  ns=(unshare --net --map-root-user)
fi

if [ "${OSTRIVANE_IN_NETNS:-}" != 1 ]; then
  "${ns[@]}" true 2>/dev/null || exit 77
  OSTRIVANE_IN_NETNS=1 exec "${ns[@]}" "$0" "$@"
fi

steps=$(mktemp -d)
mkdir "$steps/made"
server=
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  rm -rf "$steps"
}
trap cleanup EXIT

# The pair's ends: the host end gets the address.
host=va
peer=vb

pair() {
  ip link add "$host" type veth peer name "$peer"
  ip link set "$host" up
  ip link set "$peer" up
}

change() {
  case $1 in
    address) ip addr add 10.99.0.1/24 dev "$host" ;;
    replace)
      ip link del "$host"
      if [ "$host" = va ]; then host=vx peer=vy; else host=va peer=vb; fi
      pair
      ip addr add 10.99.0.1/24 dev "$host"
      ;;
    down) ip link set "$host" down ;;
    up) ip link set "$host" up ;;
    *) echo "unknown change $1" >&2 ;;
  esac
}

ip link set lo up
pair

# Makes each change asked for, once.
serve() {
  while :; do
    for asked in "$steps"/ask-*; do
      [ -e "$asked" ] || continue
      name=${asked##*/}
      [ -e "$steps/made/$name" ] && continue
      change "${name##*-}"
      touch "$steps/made/$name"
    done
    sleep 0.05
  done
}
serve &
server=$!

tests='NetworkWatchPlatform.*:NetworkWatchPosix.*:NetworkWatchWin32.*'
status=0
if [ -n "$prefix" ]; then
  # A wineserver of this namespace only: the sockets are the server's, and a
  # server of the same user outside would be found through /tmp/.wine-UID.
  server_dir=/tmp/.wine-$(id -u)
  mkdir -p "$server_dir"
  mount -t tmpfs none "$server_dir"
  export OSTRIVANE_WINEPREFIX=$prefix
  OSTRIVANE_NETWATCH_STEPS="Z:${steps//\//\\}" \
    "$here/../cmake/wine-exec.sh" "$exe" --gtest_filter="$tests" || status=$?
  WINEPREFIX=$prefix "${OSTRIVANE_WINESERVER:-/usr/lib/wine/wineserver64}" -k || true
else
  OSTRIVANE_NETWATCH_STEPS=$steps "$exe" --gtest_filter="$tests" || status=$?
fi
exit "$status"
