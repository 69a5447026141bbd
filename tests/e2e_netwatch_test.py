#!/usr/bin/env python3
"""End-to-end tests of the relay following the network: the real `ostrivane`
binary started before the network is there, or running while its interface
is replaced or its address changes, with real datagrams.

Everything runs inside a network namespace of the test's own (the script
re-executes itself under `unshare --net --map-root-user`); each test makes
the namespace's links itself, starting from loopback alone, so no datagram
ever reaches the machine's own interfaces.

Usage: e2e_netwatch_test.py --ostrivane PATH [unittest options]
"""
import sys
import tempfile
import time
import unittest

import ostrivane_harness as harness
from ostrivane_harness import (GROUP, HEADER, HOST_ADDR, HOST_IF, OTHER_PEER_ADDR,
                               PEER_ADDR, LinkSender)

OSTRIVANE = None

# How soon after a change the relay must relay again: the watch waits for
# half a second of quiet, then activates the receiver anew.
FOLLOW = 5.0

class FollowTest(unittest.TestCase):
    def setUp(self):
        harness.loopback_only()
        self.dir = tempfile.TemporaryDirectory()
        self.endpoint = harness.UnixSlotReader(self.dir.name)
        self.relays = []

    def tearDown(self):
        codes = [relay.stop() for relay in self.relays]
        errors = [relay.error_output() for relay in self.relays]
        for relay in self.relays:
            relay.close()
        self.endpoint.close()
        self.dir.cleanup()
        harness.loopback_only()
        self.assertEqual(codes, [0] * len(codes), errors)

    def start_relay(self):
        relay = harness.Program(OSTRIVANE, harness.relay_env(self.dir.name))
        self.relays.append(relay)
        self.assertTrue(relay.wait_bound(), relay.error_output())
        return relay

    def send_until_relayed(self, text, to=GROUP, via=PEER_ADDR, timeout=FOLLOW):
        """Sends the command every fifth of a second until it is relayed;
        answers how long that took, or None when it never was."""
        started = time.monotonic()
        with harness.UdpSender(via) as out:
            while time.monotonic() - started < timeout:
                out.send(HEADER + text, to)
                if self.endpoint.receive(0.2) == text:
                    taken = time.monotonic() - started
                    # Copies sent while the first was on its way.
                    self.assertEqual(set(self.endpoint.quiet()) - {text}, set())
                    return taken
        return None

    def assertFollows(self, text, to=GROUP, via=PEER_ADDR):
        taken = self.send_until_relayed(text, to, via)
        self.assertIsNotNone(taken, "%r to %s was not relayed within %.0f s" % (text, to, FOLLOW))
        print("\n  (%r relayed after %.2f s)" % (text.decode(), taken), file=sys.stderr)

    def assertNotRelayed(self, texts_and_targets, then, then_to=GROUP, via=PEER_ADDR):
        """Sends each (text, to), then `then` to `then_to`: only `then` is
        relayed."""
        with harness.UdpSender(via) as out:
            for text, to in texts_and_targets:
                out.send(HEADER + text, to)
            out.send(HEADER + then, then_to)
        self.assertEqual(self.endpoint.receive_all(1, 5.0), [then])
        self.assertEqual(self.endpoint.quiet(), [])

    def test_network_that_comes_up_after_the_start(self):
        relay = self.start_relay()
        # Only loopback: the relay listens on the wildcard address.
        time.sleep(0.3)
        harness.make_veth_pair()
        self.assertFollows(b"network is up")
        self.assertTrue(relay.alive())

    def test_interface_replaced(self):
        harness.make_veth_pair()
        self.start_relay()
        self.assertFollows(b"before")
        old_index = harness.interface_index(HOST_IF)
        harness.ip("link", "del", HOST_IF)
        harness.make_veth_pair()
        self.assertNotEqual(harness.interface_index(HOST_IF), old_index,
                            "the same interface number")
        self.assertFollows(b"on the new interface")

    def test_address_changed(self):
        harness.make_veth_pair()
        self.start_relay()
        self.assertFollows(b"before")
        new = "10.99.0.3"
        harness.ip("addr", "del", HOST_ADDR + "/24", "dev", HOST_IF)
        harness.ip("addr", "add", new + "/24", "dev", HOST_IF)
        self.assertFollows(b"to the new address", to=new)
        self.assertFollows(b"to the group", to=GROUP)
        # The old address comes back behind the new one: the relay stays on
        # the first, and unicast to the old one is not received.
        harness.ip("addr", "add", HOST_ADDR + "/24", "dev", HOST_IF)
        time.sleep(1.5)
        self.assertNotRelayed([(b"to the old address", HOST_ADDR)], b"to the new one", new)

    def test_first_address_moves_to_another_interface(self):
        harness.make_veth_pair()
        harness.other_veth_pair()
        self.start_relay()
        self.assertFollows(b"on va")
        # The va/vb pair loses its addresses: the first usable one is vc's.
        harness.ip("addr", "flush", "dev", HOST_IF)
        harness.ip("addr", "flush", "dev", harness.PEER_IF)
        self.assertFollows(b"on vc", via=OTHER_PEER_ADDR)
        # The group is heard on vc, and no longer on va.
        with LinkSender(harness.PEER_IF) as on_va, harness.UdpSender(OTHER_PEER_ADDR) as on_vc:
            on_va.send(HEADER + b"on va again", GROUP)
            on_vc.send(HEADER + b"on vc again", GROUP)
        self.assertEqual(self.endpoint.receive_all(1, 5.0), [b"on vc again"])
        self.assertEqual(self.endpoint.quiet(), [])

    def test_second_copy_keeps_failing_quietly(self):
        harness.make_veth_pair()
        first = self.start_relay()
        second = harness.Program(OSTRIVANE, harness.relay_env(self.dir.name))
        self.relays.append(second)
        report = "Could not bind socket. Address and port are already in use."
        self.assertTrue(harness.wait_for(lambda: report in second.error_output(), 10.0))
        # Changes that make both try again: the interface replaced, an
        # address added. Whichever binds first relays; the other fails
        # without a word.
        harness.ip("link", "del", HOST_IF)
        harness.make_veth_pair()
        self.assertFollows(b"one copy relays")
        harness.ip("addr", "add", "10.99.0.7/24", "dev", HOST_IF)
        time.sleep(1.5)
        self.assertTrue(second.alive() and first.alive())
        self.assertEqual(second.error_output().count(report), 1,
                         "only the start-up failure is reported")
        self.assertNotRelayed([], b"once")


def main():
    global OSTRIVANE
    (OSTRIVANE,), argv = harness.test_arguments("--ostrivane")
    harness.enter_own_namespace("OSTRIVANE_E2E_NETWATCH_NETNS")
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
