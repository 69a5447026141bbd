#!/usr/bin/env python3
"""End-to-end tests of the Windows program following the network: the real
Ostrivane.exe under Wine, started before the network is there, or running
while its interface is replaced or its first address moves to another
interface, with real datagrams and lvx-slot-monitor.exe as the owner of the
mailslot.

Everything runs inside namespaces of the test's own, as in e2e_win32_test.py
(network, mount and process namespaces, a private tmpfs for Wine's server
sockets, an X server, a Wine prefix with its server started inside); each
test makes the namespace's links itself, starting from loopback alone.

What Wine (8.0) shows of the network watch: the overlapped
SIO_ADDRESS_LIST_CHANGE completes whenever an IPv4 address is added or
removed, so the program hears of a network that comes up, of an interface
replaced and of an address that moves. Not tried here, because Wine cannot
show them:
- An interface made again under the same name: Wine's interface table keeps
  the number of the first interface it saw under that name, and lists the
  new one's address with the old number, so the program sees no change.
  Replaced under a new name, the interface is followed.
- An address changed on the same interface: Wine makes a socket bound to an
  address listen on that address's whole interface (SO_BINDTODEVICE and the
  wildcard address), so the old socket would receive the new address's
  datagrams too, and a test could not tell whether the program moved.
- A link going down and up: Wine reports no change for it.

Usage: e2e_netwatch_win32_test.py --ostrivane EXE --slot-monitor EXE
                                  --window-probe EXE [unittest options]
"""
import argparse
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import ostrivane_harness as harness  # noqa: E402
import ostrivane_wine as wine  # noqa: E402
from ostrivane_harness import GROUP, HEADER, HOST_ADDR, HOST_IF, PEER_ADDR, PEER_IF  # noqa: E402

OSTRIVANE = SLOT_MONITOR = WINDOW_PROBE = None
# Set up by main(): the Wine prefix of this run and the probe of its windows.
PREFIX = PROBE = None

MAIN_FORM = "TMainForm"
TITLE = "Ostrivane"
BIND_FAILURE = "Could not bind socket. Address and port are already in use."

# How soon after a change the program must relay again: the watch waits
# for half a second of quiet, then activates the receiver anew; Wine takes
# its time to hand a datagram over.
FOLLOW = 10.0

# The second veth pair: an interface for the address to move to, or the
# replacement of the first pair under other names.
OTHER_IF, OTHER_PEER_IF = "vc", "vd"
OTHER_ADDR, OTHER_PEER_ADDR = "10.98.0.1", "10.98.0.2"


def loopback_only():
    """The namespace with loopback alone: every veth pair deleted."""
    harness.bring_up_loopback()
    for name in (HOST_IF, OTHER_IF):
        if name in harness.link_names():
            harness.ip("link", "del", name)


def pair(host, peer, host_addr, peer_addr):
    """A veth pair whose end `host` comes first in the system's order (Wine
    lists adapters by interface number), both ends up with their address."""
    harness.ip("link", "add", "w0", "type", "veth", "peer", "name", "w1")
    first, second = [n for n in harness.link_names() if n in ("w0", "w1")]
    harness.ip("link", "set", first, "name", host)
    harness.ip("link", "set", second, "name", peer)
    # Both ends are addresses of this one namespace: traffic between them
    # carries local addresses, which the martian filter must let through.
    for conf in ("all", "default", host, peer):
        for key, value in (("accept_local", "1"), ("rp_filter", "0")):
            with open("/proc/sys/net/ipv4/conf/%s/%s" % (conf, key), "w") as f:
                f.write(value)
    for name, addr in ((host, host_addr), (peer, peer_addr)):
        harness.ip("addr", "add", addr + "/24", "dev", name)
        harness.ip("link", "set", name, "up")
    if not harness.wait_for(lambda: harness.link_is_up(host) and harness.link_is_up(peer)):
        raise RuntimeError("the veth pair %s/%s did not come up" % (host, peer))


def interface_index(name):
    # /sys shows the machine's own interfaces even inside the namespace.
    link = subprocess.run(["ip", "-o", "link", "show", name], capture_output=True, text=True,
                          check=True).stdout
    return int(link.split(":")[0])


class LinkSender(harness.UdpSender):
    """Multicast out of the interface `name`, which may have no address."""

    def __init__(self, name):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # struct ip_mreqn: no group, no address, the interface's number.
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                             struct.pack("=4s4si", bytes(4), bytes(4), interface_index(name)))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)


class Relay:
    """One running Ostrivane.exe, and the Windows process id of its main
    window."""

    def __init__(self):
        self.before = set(PROBE.window_pids(MAIN_FORM))
        self.program = PREFIX.start(OSTRIVANE)
        self.windows_pid = None

    def find_main_window(self, timeout=20.0):
        def new_pid():
            fresh = set(PROBE.window_pids(MAIN_FORM)) - self.before
            return fresh.pop() if len(fresh) == 1 else None
        self.windows_pid = harness.wait_for(new_pid, timeout, step=0.2)
        return self.windows_pid

    def alive(self):
        return self.program.alive()

    def close(self, timeout=10.0):
        """Closes the main window (WM_CLOSE); answers the exit status."""
        if self.windows_pid is None and self.alive():
            self.find_main_window()
        try:
            return self.program.stop(
                timeout, ask=lambda _: PROBE.close(MAIN_FORM, self.windows_pid))
        finally:
            self.program.close()


class FollowTest(unittest.TestCase):
    def setUp(self):
        loopback_only()
        self.monitor = wine.SlotMonitor(PREFIX, SLOT_MONITOR)
        if not self.monitor.wait_ready():
            error = self.monitor.program.error_output()
            self.monitor.close()
            raise AssertionError("lvx-slot-monitor did not start: " + error)
        self.relays = []

    def tearDown(self):
        # The programs first: while one holds the slot open, Wine keeps the
        # slot's name taken, also for the next test's monitor.
        codes = [relay.close() for relay in self.relays]
        self.monitor.close()
        loopback_only()
        self.assertEqual(codes, [0] * len(codes))

    def start_relay(self):
        relay = Relay()
        self.relays.append(relay)
        self.assertTrue(relay.program.wait_bound(timeout=30),
                        "Ostrivane.exe did not bind port %d" % harness.PORT)
        self.assertIsNotNone(relay.find_main_window())
        return relay

    def send_until_relayed(self, text, via, to=GROUP, timeout=FOLLOW):
        """Sends the command every half second until it is relayed; answers
        how long that took, or None when it never was."""
        started = time.monotonic()
        with harness.UdpSender(via, loop=False) as out:
            while time.monotonic() - started < timeout:
                out.send(HEADER + text, to)
                if self.monitor.receive(0.5) == text:
                    taken = time.monotonic() - started
                    # Copies sent while the first was on its way.
                    self.assertEqual(set(self.monitor.quiet(1.0)) - {text}, set())
                    return taken
        return None

    def assertFollows(self, text, via, to=GROUP):
        taken = self.send_until_relayed(text, via, to)
        self.assertIsNotNone(taken, "%r to %s was not relayed within %.0f s" % (text, to, FOLLOW))
        print("\n  (%r relayed after %.2f s)" % (text.decode(), taken), file=sys.stderr)

    def test_network_that_comes_up_after_the_start(self):
        relay = self.start_relay()
        # Only loopback: no adapter with an IPv4 address, so the program
        # binds the wildcard address and joins on the default interface.
        # Wine refuses that join where there is no interface but loopback
        # (Windows joins on its loopback): the start-up report shows the
        # socket error, and the next change tries again.
        box = PROBE.wait_dialog(TITLE, timeout=5.0)
        if box is not None:
            self.assertEqual(box[1], "Socket Error # 10022\nInvalid argument.")
            self.assertTrue(PROBE.dismiss(TITLE))
            print("\n  (Wine: the join on the default interface failed at the start: %r)"
                  % box[1], file=sys.stderr)
        pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        self.assertFollows(b"network is up", via=PEER_ADDR)
        self.assertTrue(relay.alive())

    def test_interface_replaced(self):
        pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        self.start_relay()
        self.assertFollows(b"before", via=PEER_ADDR)
        harness.ip("link", "del", HOST_IF)
        # The same address on an interface of another name and number.
        pair(OTHER_IF, OTHER_PEER_IF, HOST_ADDR, PEER_ADDR)
        self.assertFollows(b"on the new interface", via=PEER_ADDR)

    def test_first_address_moves_to_another_interface(self):
        pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        pair(OTHER_IF, OTHER_PEER_IF, OTHER_ADDR, OTHER_PEER_ADDR)
        self.start_relay()
        self.assertFollows(b"on va", via=PEER_ADDR)
        # The va/vb pair loses its addresses: the first usable one is vc's.
        harness.ip("addr", "flush", "dev", HOST_IF)
        harness.ip("addr", "flush", "dev", PEER_IF)
        self.assertFollows(b"on vc", via=OTHER_PEER_ADDR)
        # The group is heard on vc, and no longer on va.
        with LinkSender(PEER_IF) as on_va, \
                harness.UdpSender(OTHER_PEER_ADDR, loop=False) as on_vc:
            on_va.send(HEADER + b"on va again", GROUP)
            on_vc.send(HEADER + b"on vc again", GROUP)
        self.assertEqual(self.monitor.receive_all(1, FOLLOW), [b"on vc again"])
        self.assertEqual(self.monitor.quiet(2.0), [])

    def test_second_copy_keeps_failing_quietly(self):
        pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        first = self.start_relay()
        second = Relay()
        self.relays.append(second)
        box = PROBE.wait_dialog(TITLE)
        self.assertIsNotNone(box, "no message box titled %r" % TITLE)
        box_pid, text = box
        self.assertEqual(text, BIND_FAILURE)
        self.assertTrue(PROBE.dismiss(TITLE))
        second.windows_pid = box_pid
        # Changes that make both try again: the interface replaced, an
        # address added. Whichever binds first relays; the other fails
        # without a word.
        harness.ip("link", "del", HOST_IF)
        pair(OTHER_IF, OTHER_PEER_IF, HOST_ADDR, PEER_ADDR)
        self.assertFollows(b"one copy relays", via=PEER_ADDR)
        harness.ip("addr", "add", "10.99.0.7/24", "dev", OTHER_IF)
        time.sleep(3)
        self.assertIsNone(PROBE.dialog(TITLE), "a report after the start")
        self.assertTrue(first.alive() and second.alive())
        with harness.UdpSender(PEER_ADDR, loop=False) as out:
            out.send(HEADER + b"once", GROUP)
        self.assertEqual(self.monitor.receive_all(1, FOLLOW), [b"once"])
        self.assertEqual(self.monitor.quiet(2.0), [])


def main():
    global OSTRIVANE, SLOT_MONITOR, WINDOW_PROBE, PREFIX, PROBE
    parser = argparse.ArgumentParser()
    parser.add_argument("--ostrivane", required=True)
    parser.add_argument("--slot-monitor", required=True)
    parser.add_argument("--window-probe", required=True)
    args, rest = parser.parse_known_args()
    OSTRIVANE = os.path.abspath(args.ostrivane)
    SLOT_MONITOR = os.path.abspath(args.slot_monitor)
    WINDOW_PROBE = os.path.abspath(args.window_probe)
    harness.enter_own_namespace("OSTRIVANE_E2E_NETWATCH_WIN32_NS", unshare=wine.NAMESPACE)
    wine.private_server_dir()
    harness.bring_up_loopback()
    display = harness.XServer()
    try:
        with tempfile.TemporaryDirectory(prefix="ostrivane-wine-") as folder:
            with wine.WinePrefix(os.path.join(folder, "prefix"), display=display.name) as PREFIX:
                PROBE = wine.WindowProbe(PREFIX, WINDOW_PROBE)
                result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    finally:
        display.stop()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
