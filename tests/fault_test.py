#!/usr/bin/env python3
"""The fault suite: the real `ostrivane` binary while its surroundings
misbehave. The slot's owner is missing, appears, restarts again and again,
or stops reading; a flood of garbage, oversize and valid datagrams comes in;
a stop request arrives in the middle of a flood or while the start-up error
box is open; the relay's interface goes down and up again.

Every case ends with a stop request (SIGTERM): the relay must end with exit
code 0 within STOP_LIMIT seconds of it, and have written nothing to stderr
beyond the lines the README documents (the start-up report of a second copy).

Everything runs inside a network namespace of the test's own: the script
re-executes itself under `unshare --net --map-root-user` and builds a veth
pair there, so no datagram ever reaches the machine's own interfaces. The
error box is shown on an Xvfb server of the test's own.

Usage: fault_test.py --ostrivane PATH [unittest options]
"""
import contextlib
import os
import random
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import ostrivane_harness as harness
from ostrivane_harness import GROUP, HEADER, HOST_IF, PEER_ADDR, PEER_IF

OSTRIVANE = None
SANITIZED = False  # the relay is built with AddressSanitizer

# How long the relay may take to end after SIGTERM, in seconds.
STOP_LIMIT = 1.0
# The start-up report of a copy that cannot bind the port (README, "Running
# the relay"): the one line a case may leave on stderr, and only where it
# starts a second copy.
BIND_REPORT = "ostrivane: Could not bind socket. Address and port are already in use."
# The flood: this many datagrams, and how much the relay's resident memory
# may grow while it takes them (after a warm-up flood of the same mix).
FLOOD_SIZE = 100_000
FLOOD_RSS_GROWTH_KB = 2048


def note(text):
    """A measurement, for the log of the run."""
    print("    [%s]" % text, file=sys.stderr, flush=True)


def queue_length():
    """How many datagrams a Unix datagram socket queues for its reader."""
    with open("/proc/sys/net/unix/max_dgram_qlen") as f:
        return int(f.read())


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def link_has_carrier(name):
    out = subprocess.run(["ip", "-o", "link", "show", name], capture_output=True,
                         text=True).stdout
    return "LOWER_UP" in out and "state UP" in out


class DrainingReader:
    """The slot's owner reading everything, as fast as it comes, from a thread
    of its own; `messages` is what it has read, in order."""

    def __init__(self, endpoint):
        self.endpoint = endpoint
        self.messages = []
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        sock = self.endpoint.sock
        while not self._stop.is_set():
            ready, _, _ = select.select([sock], [], [], 0.05)
            if ready:
                data = sock.recv(70000)
                with self._lock:
                    self.messages.append(data)

    def read(self):
        with self._lock:
            return list(self.messages)

    def wait_for(self, message, timeout=10.0):
        return harness.wait_for(lambda: message in self.read(), timeout)

    def resend_until_read(self, send, message, timeout=30.0):
        """Sends `message` (a command) every 0.2 s until it has been read: a
        relay whose socket overflowed during a flood may have dropped the
        first ones. Answers whether it was read in time."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            send(HEADER + message)
            if harness.wait_for(lambda: message in self.read(), 0.2, step=0.01):
                return True
        return False

    def stop(self):
        self._stop.set()
        self._thread.join(5)


@contextlib.contextmanager
def flooding(send, datagrams):
    """Sends `datagrams` over and over from a thread of its own while the
    block runs, however fast this machine sends; stops when it ends."""
    stop = threading.Event()

    def flood_on():
        while not stop.is_set():
            for d in datagrams:
                if stop.is_set():
                    return
                send(d)

    sender = threading.Thread(target=flood_on, daemon=True)
    sender.start()
    try:
        yield
    finally:
        stop.set()
        sender.join(10)


def flood_mix(count, seed, tag):
    """`count` datagrams: about a third valid commands ("<tag> <n>", numbered
    in order), the rest garbage of every kind, among them datagrams too big
    for the relay's 8192-byte buffer. Answers (datagrams, valid payloads in
    sending order)."""
    rng = random.Random(seed)
    garbage = [
        b"",
        b"\x02",
        b"\x02LVXML",
        HEADER,
        b"\x02lvxml\x02<x/>",
        b"\x02\x02LVXML\x02<x/>",
        HEADER + b"\xc3",
        HEADER + b"\xed\xa0\x80",
        HEADER + b"\xc0\x80",
        HEADER + b"ok\xff",
    ] + [rng.randbytes(rng.randrange(1, 300)) for _ in range(200)] + [
        HEADER + rng.randbytes(rng.randrange(1, 300)) for _ in range(200)]
    oversize = [HEADER + b"v" * (8193 - len(HEADER)), HEADER + b"w" * 20000,
                rng.randbytes(9000), HEADER + b"z" * 65000]
    datagrams, valid = [], []
    for i in range(count):
        roll = rng.random()
        if roll < 0.35:
            payload = b"%s %06d" % (tag, i)
            valid.append(payload)
            datagrams.append(HEADER + payload)
        elif roll < 0.40:
            datagrams.append(oversize[i % len(oversize)])
        else:
            datagrams.append(garbage[rng.randrange(len(garbage))])
    return datagrams, valid


class FaultTest(unittest.TestCase):
    """One relay per case, its slot below a runtime folder of the case's own;
    `self.endpoint` is the slot's owner while one exists."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.endpoint = None
        self.addCleanup(self.close_endpoint)
        self.out = harness.UdpSender(PEER_ADDR)
        self.addCleanup(self.out.close)

    def open_endpoint(self):
        self.endpoint = harness.UnixSlotReader(self.dir.name)
        return self.endpoint

    def close_endpoint(self):
        if self.endpoint is not None:
            self.endpoint.close()
            self.endpoint = None

    def start_relay(self, display=None):
        relay = harness.Program(OSTRIVANE, harness.relay_env(self.dir.name, display=display))
        self.addCleanup(self._end, relay)
        self.assertTrue(relay.wait_bound(), relay.error_output())
        return relay

    @staticmethod
    def _end(relay):
        if relay.alive():
            relay.proc.kill()
            relay.proc.wait()
        relay.close()

    def send(self, data, to=GROUP):
        self.out.send(data, to)

    def assertStopsPromptly(self, relay, allowed=()):
        """SIGTERM: the relay ends with code 0 within STOP_LIMIT seconds, and
        its stderr holds no line but the `allowed` ones."""
        self.assertTrue(relay.alive(), "the relay ended by itself:\n" + relay.error_output())
        asked = time.monotonic()
        relay.proc.send_signal(signal.SIGTERM)
        try:
            # Longer than the limit, to tell how long it took.
            code = relay.proc.wait(STOP_LIMIT + 9)
        except subprocess.TimeoutExpired:
            self.fail("still running %.0f s after SIGTERM" % (STOP_LIMIT + 9))
        took = time.monotonic() - asked
        note("ended %.3f s after SIGTERM" % took)
        self.assertEqual(code, 0, relay.error_output())
        self.assertLessEqual(took, STOP_LIMIT, "ended %.2f s after SIGTERM" % took)
        unexpected = [line for line in relay.error_output().splitlines() if line not in allowed]
        self.assertEqual(unexpected, [])


class EndpointFaultTest(FaultTest):
    def test_endpoint_missing_then_appearing(self):
        relay = self.start_relay()
        for i in range(50):
            self.send(HEADER + b"lost %02d" % i)
        time.sleep(0.3)
        # The relay attached to nothing and created nothing in its place.
        self.assertFalse(os.path.lexists(harness.slot_path(self.dir.name)))
        self.open_endpoint()
        self.send(HEADER + b"found")
        self.assertEqual(self.endpoint.receive_all(1), [b"found"])
        self.assertEqual(self.endpoint.quiet(0.3), [])
        self.assertStopsPromptly(relay)

    def test_endpoint_restarted_many_times(self):
        self.open_endpoint()
        relay = self.start_relay()
        for i in range(100):
            self.close_endpoint()
            if i % 3 == 0:
                # Sent while no endpoint exists: lost, or, when the relay
                # gets to it only after the restart, delivered there.
                self.send(HEADER + b"between %03d" % i)
            self.open_endpoint()
            self.send(HEADER + b"round %03d" % i)
            got = []
            while b"round %03d" % i not in got:
                m = self.endpoint.receive(5.0)
                self.assertIsNotNone(m, "round %d: nothing arrived after %r" % (i, got))
                got.append(m)
            self.assertIn(got[:-1], ([], [b"between %03d" % i]), "round %d" % i)
        self.assertEqual(self.endpoint.quiet(0.3), [])
        self.assertStopsPromptly(relay)

    def test_endpoint_stopped_with_many_commands_pending(self):
        # The owner never reads: its queue fills, and the relay has many more
        # commands to deliver when it is asked to end.
        self.open_endpoint()
        relay = self.start_relay()
        for i in range(60):
            self.send(HEADER + b"pending %02d" % i)
        time.sleep(0.3)
        self.assertStopsPromptly(relay)

    def test_stopped_endpoint_costs_one_wait_not_one_per_command(self):
        # The owner stops reading while 200 commands come. The relay waits
        # for room once, then drops the rest at once instead of working them
        # off one wait after another: when the owner reads again a second
        # later, it finds only what its queue held, and the next command
        # arrives at once.
        self.open_endpoint()
        relay = self.start_relay()
        for i in range(200):
            self.send(HEADER + b"cmd %03d" % i)
        time.sleep(1.0)
        queued = []
        while True:
            m = self.endpoint.receive(0.3)
            if m is None:
                break
            queued.append(m)
        limit = queue_length()
        # The kernel lets one more in than the limit says.
        self.assertIn(len(queued), (limit, limit + 1), "the relay still had a backlog")
        self.assertEqual(queued, [b"cmd %03d" % i for i in range(len(queued))])
        sent = time.monotonic()
        self.send(HEADER + b"next")
        self.assertEqual(self.endpoint.receive_all(1, timeout=1.0), [b"next"])
        self.assertLess(time.monotonic() - sent, 1.0)
        self.assertStopsPromptly(relay)


class FloodFaultTest(FaultTest):
    def test_flood_with_a_draining_reader(self):
        self.open_endpoint()
        reader = DrainingReader(self.endpoint)
        self.addCleanup(reader.stop)
        relay = self.start_relay()
        # Warm-up: the same mix, so that what the relay allocates once is there.
        warm, _ = flood_mix(10_000, 1, b"warm")
        for d in warm:
            self.send(d)
        self.assertTrue(reader.resend_until_read(self.send, b"warm done"),
                        "nothing got through after the warm-up")
        before = resident_kb(relay.pid)
        flood, valid = flood_mix(FLOOD_SIZE, 2, b"flood")
        for d in flood:
            self.send(d)
        # The relay works off what its socket holds; then the next command
        # still arrives.
        self.assertTrue(reader.resend_until_read(self.send, b"after the flood"),
                        "nothing got through after the flood")
        after = resident_kb(relay.pid)
        note("VmRSS %d kB before the flood, %d kB after" % (before, after))
        if SANITIZED:
            # AddressSanitizer holds freed memory back on purpose.
            note("memory growth not checked in a sanitizer build")
        else:
            self.assertLessEqual(after - before, FLOOD_RSS_GROWTH_KB,
                                 "VmRSS grew from %d kB to %d kB" % (before, after))
        # What arrived of the flood is valid commands only, whole, in order.
        got = [m for m in reader.read() if m.startswith(b"flood ")]
        note("%d of %d valid commands in the flood arrived" % (len(got), len(valid)))
        self.assertGreater(len(got), 0)
        position = 0
        for m in got:
            try:
                position = valid.index(m, position) + 1
            except ValueError:
                self.fail("%r arrived out of order or was never sent" % m)
        self.assertStopsPromptly(relay)

    def test_sigterm_in_the_middle_of_a_flood(self):
        for draining in (True, False):
            with self.subTest(reader="draining" if draining else "stopped"):
                self.close_endpoint()
                self.open_endpoint()
                reader = DrainingReader(self.endpoint) if draining else None
                relay = self.start_relay()
                flood, _ = flood_mix(FLOOD_SIZE, 3, b"flood")
                try:
                    # Until the stop request has been answered.
                    with flooding(self.send, flood):
                        time.sleep(0.5)
                        self.assertStopsPromptly(relay)
                finally:
                    if reader is not None:
                        reader.stop()


class ErrorBoxFaultTest(FaultTest):
    def test_sigterm_while_the_start_up_error_box_is_open(self):
        display = harness.XServer()
        self.addCleanup(display.stop)
        first = self.start_relay()
        second = harness.Program(OSTRIVANE,
                                 harness.relay_env(self.dir.name, display=display.name))
        self.addCleanup(self._end, second)
        self.assertTrue(harness.wait_for(lambda: display.windows(second.pid), 10.0),
                        "no error box:\n" + second.error_output())
        self.assertIn(BIND_REPORT, second.error_output().splitlines())
        time.sleep(0.2)
        self.assertStopsPromptly(second, allowed=(BIND_REPORT,))
        self.assertStopsPromptly(first)


class InterfaceFaultTest(FaultTest):
    def test_interface_down_and_up_again(self):
        # The relay's interface goes down and comes back with the same
        # address. It runs on, and relays again once the link is back
        # (today it simply keeps its socket and its membership; a relay that
        # follows the network may take a moment to be back).
        self.open_endpoint()
        relay = self.start_relay()
        self.send(HEADER + b"before")
        self.assertEqual(self.endpoint.receive_all(1), [b"before"])
        try:
            harness.ip("link", "set", HOST_IF, "down")
            self.assertTrue(harness.wait_for(lambda: not link_has_carrier(HOST_IF), 5.0))
            time.sleep(0.5)
            self.assertTrue(relay.alive(), relay.error_output())
        finally:
            harness.ip("link", "set", HOST_IF, "up")
        self.assertTrue(harness.wait_for(
            lambda: link_has_carrier(HOST_IF) and link_has_carrier(PEER_IF), 5.0))
        # Sent again and again until one arrives: a relay that follows the
        # network may take a moment to be back on the interface.
        arrived = None
        deadline = time.monotonic() + 10.0
        while arrived is None and time.monotonic() < deadline:
            self.send(HEADER + b"after")
            arrived = self.endpoint.receive(0.3)
        self.assertEqual(arrived, b"after", "nothing relayed after the interface came back")
        self.assertStopsPromptly(relay)


def main():
    global OSTRIVANE, SANITIZED
    (OSTRIVANE,), argv = harness.test_arguments("--ostrivane")
    with open(OSTRIVANE, "rb") as f:
        SANITIZED = b"__asan_init" in f.read()
    harness.require("fault_test", tools=("Xvfb", "xdotool", "xprop", "unshare", "ip"))
    harness.enter_own_namespace("OSTRIVANE_FAULT_NETNS")
    harness.make_veth_pair()
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
