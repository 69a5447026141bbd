#!/usr/bin/env python3
"""End-to-end tests of the relay: the real `ostrivane` binary, real datagrams,
a real endpoint standing in for the presentation application.

Everything runs inside a network namespace of the test's own: the script
re-executes itself under `unshare --net --map-root-user` and builds a veth
pair there, so no datagram ever reaches the machine's own interfaces.

Usage: e2e_test.py --ostrivane PATH [unittest options]
"""
import argparse
import os
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

OSTRIVANE = None
GROUP = "224.0.0.1"
PORT = 19151
HOST_ADDR = "10.99.0.1"  # first usable interface: the relay binds here
PEER_ADDR = "10.99.0.2"  # the sender's side of the pair
HEADER = b"\x02LVXML\x02"


def in_own_namespace():
    return os.environ.get("OSTRIVANE_E2E_NETNS") == "1"


def run(*cmd):
    subprocess.run(cmd, check=True)


def setup_network():
    """One namespace, two ends of a veth pair. Traffic between them carries
    local addresses, so martian filtering is relaxed for this namespace."""
    run("ip", "link", "set", "lo", "up")
    run("ip", "link", "add", "v0", "type", "veth", "peer", "name", "v1")
    # The relay takes the first interface in the system's order: that one
    # gets the host's address, whichever end of the pair it is.
    order = subprocess.run(["ip", "-o", "link", "show"], capture_output=True,
                           text=True).stdout
    names = [line.split(":")[1].strip().split("@")[0] for line in order.splitlines()]
    host, peer = [n for n in names if n in ("v0", "v1")]
    run("ip", "link", "set", host, "name", "va")
    run("ip", "link", "set", peer, "name", "vb")
    run("ip", "addr", "add", HOST_ADDR + "/24", "dev", "va")
    run("ip", "addr", "add", PEER_ADDR + "/24", "dev", "vb")
    run("ip", "link", "set", "va", "up")
    run("ip", "link", "set", "vb", "up")
    for conf in ("all", "default", "va", "vb", "lo"):
        for key, value in (("accept_local", "1"), ("rp_filter", "0")):
            path = f"/proc/sys/net/ipv4/conf/{conf}/{key}"
            if os.path.exists(path):
                with open(path, "w") as f:
                    f.write(value)
    # Wait until the veth carrier is up, or the relay would skip the interface.
    # (/sys still shows the machine's own interfaces: ask ip instead.)
    for _ in range(100):
        link = subprocess.run(["ip", "-o", "link", "show", "va"], capture_output=True,
                              text=True).stdout
        if "LOWER_UP" in link and "state UP" in link:
            break
        time.sleep(0.05)


def sender(interface=PEER_ADDR):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(interface))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)
    return s


class Endpoint:
    """The presentation application's side: a bound Unix datagram socket."""

    def __init__(self, runtime_dir):
        self.path = os.path.join(runtime_dir, "mailslot", "Lyravox", "Messages")
        os.makedirs(os.path.dirname(self.path), mode=0o700, exist_ok=True)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)

    def receive(self, timeout=5.0):
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return None
        return self.sock.recv(70000)

    def receive_all(self, count, timeout=10.0):
        messages = []
        deadline = time.monotonic() + timeout
        while len(messages) < count and time.monotonic() < deadline:
            m = self.receive(max(0.0, deadline - time.monotonic()))
            if m is None:
                break
            messages.append(m)
        return messages

    def quiet(self, seconds=0.5):
        """Whatever arrives within `seconds`; a test expects nothing more."""
        got = []
        while True:
            m = self.receive(seconds)
            if m is None:
                return got
            got.append(m)

    def close(self):
        self.sock.close()
        if os.path.exists(self.path):
            os.unlink(self.path)


class Relay:
    def __init__(self, runtime_dir):
        env = dict(os.environ)
        env["XDG_RUNTIME_DIR"] = runtime_dir
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(var, None)
        env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([OSTRIVANE], env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)

    def wait_bound(self):
        """Until the relay's socket is bound to the port (or it died)."""
        for _ in range(200):
            if self.proc.poll() is not None:
                return False
            with open("/proc/net/udp") as f:
                if any(line.split()[1].endswith(":%04X" % PORT) for line in f.readlines()[1:]):
                    time.sleep(0.05)  # the join follows the bind at once
                    return True
            time.sleep(0.025)
        return False

    def error_output(self):
        self.stderr.seek(0)
        return self.stderr.read().decode("utf-8", "replace")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise
        return self.proc.returncode


class RelayTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.endpoint = Endpoint(self.dir.name)
        self.relay = Relay(self.dir.name)
        self.assertTrue(self.relay.wait_bound(), self.relay.error_output())
        self.out = sender()

    def tearDown(self):
        self.out.close()
        code = self.relay.stop()
        self.endpoint.close()
        self.dir.cleanup()
        self.assertEqual(code, 0, self.relay.error_output())

    def send(self, data, to=GROUP):
        self.out.sendto(data, (to, PORT))

    def assertRelayed(self, expected, timeout=5.0):
        got = self.endpoint.receive_all(len(expected), timeout)
        self.assertEqual(got, expected)

    def test_valid_datagram_arrives_as_one_message(self):
        self.send(HEADER + b"<Remote/>")
        self.assertRelayed([b"<Remote/>"])

    def test_text_is_converted_to_the_ansi_code_page(self):
        payload = "Grüße € – “x” \u0416 \u0100".encode("utf-8")
        self.send(HEADER + payload)
        self.assertRelayed(["Grüße € – “x” ? A".encode("cp1252")])

    def test_malformed_datagrams_are_dropped_and_the_next_is_relayed(self):
        bad = [
            b"",
            b"\x02",
            b"\x02LVXML",
            HEADER,
            b"\x02lvxml\x02abc",
            b"\x02LVXML \x02abc",
            b"\x02\x02LVXML\x02abc",
            b"LVXML\x02abc",
            HEADER + b"\xc3",
            HEADER + b"\xc0\x80",
            HEADER + b"\xed\xa0\x80",
            HEADER + b"ok\xff",
        ]
        for d in bad:
            self.send(d)
        self.send(HEADER + b"a\x02b\x00")
        self.assertRelayed([b"a\x02b\x00"])
        self.assertEqual(self.endpoint.quiet(), [])

    def test_size_limit_is_the_receive_buffer(self):
        exact = HEADER + b"x" * (8192 - len(HEADER))
        over = HEADER + b"y" * (8193 - len(HEADER))
        self.send(over)
        self.send(exact)
        self.send(over)
        self.send(HEADER + b"after")
        self.assertRelayed([exact[len(HEADER):], b"after"])
        self.assertEqual(self.endpoint.quiet(), [])

    def test_zero_byte_datagram_then_valid_one(self):
        self.send(b"")
        self.send(HEADER + b"next")
        self.assertRelayed([b"next"])

    def test_back_to_back_datagrams_keep_their_order(self):
        expected = [b"cmd %03d" % i for i in range(60)]
        for m in expected:
            self.send(HEADER + m)
        self.assertRelayed(expected, timeout=15)

    def test_unicast_to_the_chosen_address(self):
        self.send(HEADER + b"direct", to=HOST_ADDR)
        self.assertRelayed([b"direct"])

    def test_datagrams_to_other_local_addresses_are_not_received(self):
        self.send(HEADER + b"to the peer address", to=PEER_ADDR)
        self.send(HEADER + b"to the group")
        self.assertRelayed([b"to the group"])
        self.assertEqual(self.endpoint.quiet(), [])

    def test_no_endpoint_then_an_endpoint_that_appears(self):
        self.endpoint.close()
        self.send(HEADER + b"lost")
        time.sleep(0.3)
        self.endpoint = Endpoint(self.dir.name)
        self.send(HEADER + b"found")
        self.assertRelayed([b"found"])
        self.assertIsNone(self.relay.proc.poll())

    def test_endpoint_recreated_while_the_relay_holds_it(self):
        self.send(HEADER + b"one")
        self.assertRelayed([b"one"])
        self.endpoint.close()
        self.endpoint = Endpoint(self.dir.name)
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
            endpoint = Endpoint(d)
            first = Relay(d)
            try:
                self.assertTrue(first.wait_bound(), first.error_output())
                second = Relay(d)
                try:
                    deadline = time.monotonic() + 10
                    while ("Could not bind socket" not in second.error_output()
                           and time.monotonic() < deadline and second.proc.poll() is None):
                        time.sleep(0.05)
                    self.assertIn(
                        "Could not bind socket. Address and port are already in use.",
                        second.error_output())
                    time.sleep(0.2)
                    self.assertIsNone(second.proc.poll(), "the second copy runs on")
                    # The first copy still relays, once.
                    out = sender()
                    out.sendto(HEADER + b"still here", (GROUP, PORT))
                    out.close()
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
                relay = Relay(d)
                self.assertTrue(relay.wait_bound(), relay.error_output())
                relay.proc.send_signal(sig)
                self.assertEqual(relay.proc.wait(10), 0)
                self.assertEqual(relay.error_output(), "")
                with open("/proc/net/udp") as f:
                    self.assertFalse(any(line.split()[1].endswith(":%04X" % PORT)
                                         for line in f.readlines()[1:]))


def main():
    global OSTRIVANE
    parser = argparse.ArgumentParser()
    parser.add_argument("--ostrivane", required=True)
    args, rest = parser.parse_known_args()
    OSTRIVANE = os.path.abspath(args.ostrivane)
    if not in_own_namespace():
        env = dict(os.environ, OSTRIVANE_E2E_NETNS="1")
        cmd = ["unshare", "--net", "--map-root-user", sys.executable, os.path.abspath(__file__),
               "--ostrivane", OSTRIVANE] + rest
        sys.exit(subprocess.run(cmd, env=env).returncode)
    setup_network()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
