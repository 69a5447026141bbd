#!/usr/bin/env bash
# The local address list of the Windows build, under Wine, inside a network
# namespace of the test's own: loopback, a veth pair that is up (10.99.0.1 on
# va, 10.99.0.2 on vb) and one that is down (10.98.0.1 on vc). The list must
# hold the up pair's IPv4 addresses in the system's order (vb is registered
# first) and nothing of loopback or of the down pair. Nothing is sent.
#
# Usage: local_addresses_netns_test.sh NET_TESTS_EXE WINEPREFIX
# Exits 77 (skipped) where no user and network namespace can be made.
set -eu
exe=$1
prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
ns=(unshare --net --mount --map-root-user --propagation private)

if [ "${OSTRIVANE_IN_NETNS:-}" != 1 ]; then
  "${ns[@]}" true 2>/dev/null || exit 77
  OSTRIVANE_IN_NETNS=1 exec "${ns[@]}" "$0" "$@"
fi

# A wineserver of this namespace only: the sockets are the server's, and a
# server of the same user outside would be found through /tmp/.wine-UID.
server_dir=/tmp/.wine-$(id -u)
mkdir -p "$server_dir"
mount -t tmpfs none "$server_dir"

ip link set lo up
ip link add va type veth peer name vb
ip addr add 10.99.0.1/24 dev va
ip addr add 10.99.0.2/24 dev vb
ip link set va up
ip link set vb up
ip link add vc type veth peer name vd
ip addr add 10.98.0.1/24 dev vc

export OSTRIVANE_WINEPREFIX=$prefix
export OSTRIVANE_EXPECTED_IPV4=10.99.0.2,10.99.0.1
status=0
"$here/../cmake/wine-exec.sh" "$exe" --gtest_filter='Win32Platform.*' || status=$?
WINEPREFIX=$prefix "${OSTRIVANE_WINESERVER:-/usr/lib/wine/wineserver64}" -k || true
exit "$status"
