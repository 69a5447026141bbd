#!/usr/bin/env python3
"""End-to-end tests of the relay: the real `ostrivane` binary, real datagrams,
a real endpoint standing in for the presentation application.

Everything runs inside a network namespace of the test's own: the script
re-executes itself under `unshare --net --map-root-user` and builds a veth
pair there, so no datagram ever reaches the machine's own interfaces.

Usage: e2e_test.py --ostrivane PATH [unittest options]
"""
import signal
import sys
import tempfile
import time
import unittest

import ostrivane_harness as harness
from ostrivane_harness import GROUP, HEADER, PEER_ADDR, PORT

OSTRIVANE = None


def start_relay(runtime_dir):
    """The relay without a display (Qt offscreen), its slot below `runtime_dir`."""
    return harness.Program(OSTRIVANE, harness.relay_env(runtime_dir))


class RelayTest(harness.RelayCases, unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.endpoint = harness.UnixSlotReader(self.dir.name)
        self.relay = start_relay(self.dir.name)
        self.addCleanup(self.relay.close)
        self.assertTrue(self.relay.wait_bound(), self.relay.error_output())
        self.out = harness.UdpSender(PEER_ADDR)

    def tearDown(self):
        self.out.close()
        code = self.relay.stop()
        self.endpoint.close()
        self.dir.cleanup()
        self.assertEqual(code, 0, self.relay.error_output())

    def send(self, data, to=GROUP):
        self.out.send(data, to)

    def assertRelayed(self, expected, timeout=5.0):
        got = self.endpoint.receive_all(len(expected), timeout)
        self.assertEqual(got, expected)

    def assertNothingMore(self, seconds=0.5):
        self.assertEqual(self.endpoint.quiet(seconds), [])

    def test_valid_datagram_arrives_as_one_message(self):
        self.send(HEADER + b"<Remote/>")
        self.assertRelayed([b"<Remote/>"])

    def test_text_is_converted_to_the_ansi_code_page(self):
        self.send(harness.remote_datagram("Grüße € – “x” \u0416 \u0100"))
        self.assertRelayed(["Grüße € – “x” ? A".encode("cp1252")])

    def test_no_endpoint_then_an_endpoint_that_appears(self):
        self.endpoint.close()
        self.send(HEADER + b"lost")
        time.sleep(0.3)
        self.endpoint = harness.UnixSlotReader(self.dir.name)
        self.send(HEADER + b"found")
        self.assertRelayed([b"found"])
        self.assertIsNone(self.relay.proc.poll())

    def test_endpoint_recreated_while_the_relay_holds_it(self):
        self.send(HEADER + b"one")
        self.assertRelayed([b"one"])
        self.endpoint.close()
        self.endpoint = harness.UnixSlotReader(self.dir.name)
        self.send(HEADER + b"two")
        self.assertRelayed([b"two"])

    def test_slow_reader_loses_nothing(self):
        # Many more messages than the endpoint's queue holds, read only after
        # a pause: the relay waits for room instead of dropping.
        with open("/proc/sys/net/unix/max_dgram_qlen") as f:
            qlen = int(f.read())
        count = qlen * 3
        expected = [b"slow %03d" % i for i in range(count)]
        for m in expected:
            self.send(HEADER + m)
        time.sleep(0.2)
        self.assertRelayed(expected, timeout=20)

    def test_stuck_reader_does_not_freeze_the_relay(self):
        # The endpoint never reads: its queue fills, further messages are
        # dropped after a bounded wait, and the relay goes on running.
        with open("/proc/sys/net/unix/max_dgram_qlen") as f:
            qlen = int(f.read())
        for i in range(qlen + 3):
            self.send(HEADER + b"stuck %03d" % i)
        time.sleep(3)
        self.assertIsNone(self.relay.proc.poll())
        first = self.endpoint.receive_all(qlen, timeout=5)
        self.assertEqual(first, [b"stuck %03d" % i for i in range(qlen)])
        # Reading again, the next command goes through.
        self.endpoint.quiet(4)
        self.send(HEADER + b"free again")
        got = self.endpoint.receive_all(1, timeout=5)
        self.assertEqual(got, [b"free again"])


class SecondCopyTest(unittest.TestCase):
    def test_second_copy_reports_the_bind_failure_and_runs_on(self):
        with tempfile.TemporaryDirectory() as d:
            endpoint = harness.UnixSlotReader(d)
            first = start_relay(d)
            self.addCleanup(first.close)
            try:
                self.assertTrue(first.wait_bound(), first.error_output())
                second = start_relay(d)
                self.addCleanup(second.close)
                try:
                    harness.wait_for(lambda: "Could not bind socket" in second.error_output()
                                     or not second.alive(), 10.0)
                    self.assertIn(
                        "Could not bind socket. Address and port are already in use.",
                        second.error_output())
                    time.sleep(0.2)
                    self.assertIsNone(second.proc.poll(), "the second copy runs on")
                    # The first copy still relays, once.
                    with harness.UdpSender(PEER_ADDR) as out:
                        out.send(HEADER + b"still here", GROUP)
                    self.assertEqual(endpoint.receive_all(1), [b"still here"])
                    self.assertEqual(endpoint.quiet(), [])
                finally:
                    self.assertEqual(second.stop(), 0)
            finally:
                self.assertEqual(first.stop(), 0)
                endpoint.close()


class ShutdownTest(unittest.TestCase):
    def test_sigterm_and_sigint_end_the_relay_cleanly(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with tempfile.TemporaryDirectory() as d:
                relay = start_relay(d)
                self.addCleanup(relay.close)
                self.assertTrue(relay.wait_bound(), relay.error_output())
                relay.proc.send_signal(sig)
                self.assertEqual(relay.proc.wait(10), 0)
                self.assertEqual(relay.error_output(), "")
                self.assertFalse(harness.udp_port_bound(PORT))


def main():
    global OSTRIVANE
    (OSTRIVANE,), argv = harness.test_arguments("--ostrivane")
    harness.enter_own_namespace("OSTRIVANE_E2E_NETNS")
    harness.make_veth_pair()
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
