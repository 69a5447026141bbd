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
import sys
import time
import unittest

import ostrivane_harness as harness
import ostrivane_wine as wine
from ostrivane_wine import BIND_FAILURE, TITLE
from ostrivane_harness import (
    GROUP, HEADER, HOST_ADDR, HOST_IF, OTHER_ADDR, OTHER_IF, OTHER_PEER_ADDR, OTHER_PEER_IF,
    PEER_ADDR, PEER_IF)

OSTRIVANE = SLOT_MONITOR = None
# Set up by main(): the Wine prefix of this run and the probe of its windows.
PREFIX = PROBE = None

# How soon after a change the program must relay again: the watch waits
# for half a second of quiet, then activates the receiver anew; Wine takes
# its time to hand a datagram over.
FOLLOW = 10.0


def new_relay():
    return wine.Relay(PREFIX, PROBE, OSTRIVANE)


class FollowTest(unittest.TestCase):
    def setUp(self):
        harness.loopback_only()
        self.monitor = wine.start_slot_monitor(PREFIX, SLOT_MONITOR)
        self.relays = []

    def tearDown(self):
        # The programs first: while one holds the slot open, Wine keeps the
        # slot's name taken, also for the next test's monitor.
        codes = [relay.close() for relay in self.relays]
        self.monitor.close()
        harness.loopback_only()
        self.assertEqual(codes, [0] * len(codes))

    def start_relay(self):
        relay = new_relay()
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
        harness.veth_pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        self.assertFollows(b"network is up", via=PEER_ADDR)
        self.assertTrue(relay.alive())

    def test_interface_replaced(self):
        harness.veth_pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        self.start_relay()
        self.assertFollows(b"before", via=PEER_ADDR)
        harness.ip("link", "del", HOST_IF)
        # The same address on an interface of another name and number.
        harness.veth_pair(OTHER_IF, OTHER_PEER_IF, HOST_ADDR, PEER_ADDR)
        self.assertFollows(b"on the new interface", via=PEER_ADDR)

    def test_first_address_moves_to_another_interface(self):
        harness.veth_pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        harness.veth_pair(OTHER_IF, OTHER_PEER_IF, OTHER_ADDR, OTHER_PEER_ADDR)
        self.start_relay()
        self.assertFollows(b"on va", via=PEER_ADDR)
        # The va/vb pair loses its addresses: the first usable one is vc's.
        harness.ip("addr", "flush", "dev", HOST_IF)
        harness.ip("addr", "flush", "dev", PEER_IF)
        self.assertFollows(b"on vc", via=OTHER_PEER_ADDR)
        # The group is heard on vc, and no longer on va.
        with harness.LinkSender(PEER_IF, loop=False) as on_va, \
                harness.UdpSender(OTHER_PEER_ADDR, loop=False) as on_vc:
            on_va.send(HEADER + b"on va again", GROUP)
            on_vc.send(HEADER + b"on vc again", GROUP)
        self.assertEqual(self.monitor.receive_all(1, FOLLOW), [b"on vc again"])
        self.assertEqual(self.monitor.quiet(2.0), [])

    def test_second_copy_keeps_failing_quietly(self):
        harness.veth_pair(HOST_IF, PEER_IF, HOST_ADDR, PEER_ADDR)
        first = self.start_relay()
        second = new_relay()
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
        harness.veth_pair(OTHER_IF, OTHER_PEER_IF, HOST_ADDR, PEER_ADDR)
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
    global OSTRIVANE, SLOT_MONITOR, PREFIX, PROBE
    (OSTRIVANE, SLOT_MONITOR, window_probe), argv = harness.test_arguments(
        "--ostrivane", "--slot-monitor", "--window-probe")
    with wine.session("OSTRIVANE_E2E_NETWATCH_WIN32_NS", window_probe,
                      network="loopback") as (PREFIX, PROBE, _):
        return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
