#!/usr/bin/env python3
"""End-to-end tests of the Windows program: the real Ostrivane.exe under
Wine, real datagrams, and lvx-slot-monitor.exe as the owner of the mailslot
"Lyravox\\Messages", standing in for the presentation application.

Everything runs inside namespaces of the test's own: the script re-executes
itself under unshare (network, mount and process namespaces), builds a veth
pair, gives Wine's folder of server sockets a private tmpfs, starts an X
server (Wine's windows need one) and a Wine prefix with its server in a
temporary folder, and ends them all at the end. No datagram reaches the
machine's own interfaces, and no process outlives the test.

Wine lists the adapters in the order of their interface numbers, loopback
first: the program binds the address of the first veth end (HOST_ADDR) and
joins the group there; datagrams leave through the other end, multicast
with loop-back off.

Usage: e2e_win32_test.py --ostrivane EXE --slot-monitor EXE --window-probe EXE
                         [unittest options]
"""
import argparse
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import ostrivane_harness as harness  # noqa: E402
import ostrivane_wine as wine  # noqa: E402
from ostrivane_harness import GROUP, HEADER, HOST_ADDR, PEER_ADDR, PORT  # noqa: E402

OSTRIVANE = SLOT_MONITOR = WINDOW_PROBE = None
# Set up by main(): the Wine prefix of this run and the probe of its windows.
PREFIX = PROBE = None

MAIN_FORM = "TMainForm"
# The application title: the program file's name up to its first full stop.
TITLE = "Ostrivane"
BIND_FAILURE = "Could not bind socket. Address and port are already in use."
# The log box (Memo1) among the main window's controls.
LOG_BOX_ID = 107

# How long a relayed command may take to arrive. The program takes ~1 s to
# put a command of 8 KB without line breaks into its log box under Wine.
ARRIVAL = 15.0

# What code page 1252 makes of U+FEFF, which it lacks.
BOM_IN_1252 = b"?"


class Relay:
    """One running Ostrivane.exe: its process, and its Windows process id,
    through which its main window is found."""

    def __init__(self):
        before = set(PROBE.window_pids(MAIN_FORM))
        self.program = PREFIX.start(OSTRIVANE)
        self.windows_pid = None
        self.before = before

    def wait_bound(self):
        return self.program.wait_bound(timeout=30)

    def find_main_window(self, timeout=20.0):
        """The Windows process id of this copy's main window."""
        def new_pid():
            fresh = set(PROBE.window_pids(MAIN_FORM)) - self.before
            return fresh.pop() if len(fresh) == 1 else None
        self.windows_pid = harness.wait_for(new_pid, timeout, step=0.2)
        return self.windows_pid

    def alive(self):
        return self.program.alive()

    def close(self, timeout=10.0):
        """Closes the main window the way the tray menu's exit does (WM_CLOSE)
        and answers the exit status; raises TimeoutExpired when the program
        has not ended within `timeout` seconds (it is killed then)."""
        if self.windows_pid is None and self.alive():
            self.find_main_window()
        try:
            return self.program.stop(
                timeout, ask=lambda _: PROBE.close(MAIN_FORM, self.windows_pid))
        finally:
            self.program.close()

    def log_box(self):
        return PROBE.control_text(MAIN_FORM, LOG_BOX_ID, self.windows_pid)


def start_monitor(*options):
    monitor = wine.SlotMonitor(PREFIX, SLOT_MONITOR, *options)
    if not monitor.wait_ready():
        error = monitor.program.error_output()
        monitor.close()
        raise AssertionError("lvx-slot-monitor did not start: " + error)
    return monitor


def sockets_on(port):
    """How many UDP sockets of this namespace are bound to `port`."""
    with open("/proc/net/udp") as f:
        return sum(line.split()[1].endswith(":%04X" % port) for line in f.readlines()[1:])


def group_members():
    """{interface: users} of the group 224.0.0.1, from /proc/net/igmp. The
    kernel itself is one user on every interface; a socket that joined the
    group there is one more."""
    members = {}
    device = None
    with open("/proc/net/igmp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if not line.startswith("\t"):
                device = fields[1]
            elif fields[0] == "010000E0":
                members[device] = int(fields[1])
    return members


def ansi(text):
    return text.encode("cp1252")


class RelayTestCase(unittest.TestCase):
    """The program running with the slot's owner in place."""

    monitor_options = ()

    def setUp(self):
        self.monitor = start_monitor(*self.monitor_options)
        self.relay = Relay()
        bound = self.relay.wait_bound()
        if not bound:
            self.relay.program.stop(5)
            self.monitor.close()
        self.assertTrue(bound, "Ostrivane.exe did not bind port %d" % PORT)
        self.relay.find_main_window()
        self.out = harness.UdpSender(PEER_ADDR, loop=False)

    def tearDown(self):
        self.out.close()
        # The program first: while it holds the slot open, Wine keeps the
        # slot's name taken, also for the next test's monitor.
        code = self.relay.close()
        self.monitor.close()
        self.assertEqual(code, 0)
        self.assertFalse(harness.udp_port_bound(PORT), "the port is still bound")

    def send(self, data, to=GROUP):
        self.out.send(data, to)

    def assertRelayed(self, expected, timeout=ARRIVAL):
        self.assertEqual(self.monitor.receive_all(len(expected), timeout), expected)

    def assertNothingMore(self, seconds=1.0):
        self.assertEqual(self.monitor.quiet(seconds), [])


class RelayTest(RelayTestCase):
    def test_valid_datagram_arrives_as_one_message_and_in_the_log_box(self):
        self.send(HEADER + b"<Remote/>")
        self.assertRelayed([b"<Remote/>"])
        self.assertEqual(self.relay.log_box(), "<Remote/>")

    def test_two_commands_give_two_messages_and_the_log_box_shows_the_second(self):
        self.send(HEADER + b"first")
        self.send(HEADER + b"second")
        self.assertRelayed([b"first", b"second"])
        self.assertEqual(self.relay.log_box(), "second")

    def test_text_is_converted_by_the_systems_ansi_code_page(self):
        # What Wine's WideCharToMultiByte(CP_ACP) makes of it in code page
        # 1252: its own characters as they are, best-fit replacements where it
        # has one (U+0100 'A', U+221E '8'), "?" otherwise (Cyrillic, CJK), and
        # "?" for each half of a surrogate pair.
        cases = [
            ("Grüße €", ansi("Grüße €")),
            ("– “x” ‰ Œ ÿ", ansi("– “x” ‰ Œ ÿ")),
            ("\u0416\u0100\u221e", b"?A8"),
            ("\u4e2d", b"?"),
            ("\U0001F600", b"??"),
        ]
        for text, _ in cases:
            self.send(harness.remote_datagram(text))
        self.assertRelayed([expected for _, expected in cases])
        # The log box shows the text itself, not its 8-bit form.
        self.assertEqual(self.relay.log_box(), "\U0001F600")

    def test_log_box_keeps_what_the_code_page_cannot(self):
        text = "Grüße € \u0416\u0100"
        self.send(harness.remote_datagram(text))
        self.assertRelayed([ansi("Grüße € ") + b"?A"])
        self.assertEqual(self.relay.log_box(), text)

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
            HEADER + b"\xe4",
            HEADER + b"\xc0\x80",
            HEADER + b"\xed\xa0\x80",
            HEADER + b"\xf4\x90\x80\x80",
            HEADER + b"ok\xff",
        ]
        for d in bad:
            self.send(d)
        self.send(HEADER + b"a\x02b\x00")
        self.assertRelayed([b"a\x02b\x00"])
        self.assertNothingMore()

    def test_payload_is_taken_whole(self):
        # A byte-order mark is part of the text (code page 1252 has no byte
        # for it: BOM_IN_1252), as are line ends and a trailing zero.
        self.send(HEADER + b"\xef\xbb\xbfx\r\ny\n\x00")
        self.assertRelayed([BOM_IN_1252 + b"x\r\ny\n\x00"])

    def test_size_limit_is_the_receive_buffer(self):
        exact = HEADER + b"x" * (8192 - len(HEADER))
        over = HEADER + b"y" * (8193 - len(HEADER))
        self.send(over)
        self.send(exact)
        self.send(over)
        self.send(HEADER + b"after")
        self.assertRelayed([exact[len(HEADER):], b"after"], timeout=30)
        self.assertNothingMore(2.0)

    def test_zero_byte_datagram_then_valid_one(self):
        self.send(b"")
        self.send(HEADER + b"next")
        self.assertRelayed([b"next"])

    def test_back_to_back_datagrams_keep_their_order(self):
        expected = [b"cmd %03d" % i for i in range(60)]
        for m in expected:
            self.send(HEADER + m)
        self.assertRelayed(expected, timeout=30)

    def test_joins_the_group_on_the_first_adapter_only(self):
        # Wine lists lo, then the veth ends in the order of their interface
        # numbers: HOST_IF comes first.
        self.assertEqual(group_members(), {"lo": 1, harness.HOST_IF: 2, harness.PEER_IF: 1})

    def test_unicast_to_the_chosen_address(self):
        self.send(HEADER + b"direct", to=HOST_ADDR)
        self.assertRelayed([b"direct"])

    def test_datagrams_to_other_local_addresses_are_not_received(self):
        self.send(HEADER + b"to the peer address", to=PEER_ADDR)
        self.send(HEADER + b"to loopback", to="127.0.0.1")
        self.send(HEADER + b"to the group")
        self.assertRelayed([b"to the group"])
        self.assertNothingMore()


class SlowReaderTest(RelayTestCase):
    # The owner takes a tenth of a second for each message.
    monitor_options = ("--read-delay-ms", "100")

    def test_slow_reader_loses_nothing(self):
        expected = [b"slow %02d" % i for i in range(30)]
        for m in expected:
            self.send(HEADER + m)
        self.assertRelayed(expected, timeout=30)


class SlotOwnerTest(unittest.TestCase):
    """The slot's owner missing, appearing, going away and coming back."""

    def setUp(self):
        self.monitor = None
        self.relay = Relay()
        self.assertTrue(self.relay.wait_bound(), "Ostrivane.exe did not bind port %d" % PORT)
        self.relay.find_main_window()
        self.out = harness.UdpSender(PEER_ADDR, loop=False)

    def tearDown(self):
        self.out.close()
        code = self.relay.close()
        if self.monitor is not None:
            self.monitor.close()
        self.assertEqual(code, 0)

    def send(self, text):
        self.out.send(HEADER + text)

    def log_box_shows(self, text):
        return harness.wait_for(lambda: self.relay.log_box() == text, ARRIVAL, step=0.2)

    def test_no_slot_then_a_slot_that_appears(self):
        self.send(b"lost")
        # Relayed (the log box shows it), but nobody owns the slot.
        self.assertTrue(self.log_box_shows("lost"))
        self.monitor = start_monitor()
        self.send(b"found")
        self.assertEqual(self.monitor.receive_all(1, ARRIVAL), [b"found"])
        self.assertEqual(self.monitor.quiet(1.0), [])
        self.assertTrue(self.relay.alive())

    def test_the_slots_owner_goes_away_and_comes_back(self):
        self.monitor = start_monitor()
        self.send(b"one")
        self.assertEqual(self.monitor.receive_all(1, ARRIVAL), [b"one"])
        self.monitor.close()
        self.monitor = None
        self.send(b"while away")
        self.assertTrue(self.log_box_shows("while away"))
        self.assertTrue(self.relay.alive())

        again = wine.SlotMonitor(PREFIX, SLOT_MONITOR)
        if again.wait_ready(10):
            # Windows: the slot went with its owner; the program's next write
            # fails, it opens the new slot and delivers there.
            self.monitor = again
            self.send(b"back")
            self.assertEqual(self.monitor.receive_all(1, ARRIVAL), [b"back"])
            return
        # Wine: while the program holds its handle on the old slot, the slot
        # lives on, writes to it succeed and its name stays taken, so the
        # owner cannot come back until the program lets go of it.
        error = again.program.error_output()
        again.close()
        self.assertIn("a live slot already exists", error)
        print("\n  (Wine: the old slot outlives its owner while Ostrivane.exe holds it;"
              " the owner comes back only after the program's end)", file=sys.stderr)
        self.send(b"still running")
        self.assertTrue(self.log_box_shows("still running"))
        # The program's end closes its handle: then the name is free again.
        self.assertEqual(self.relay.close(), 0)
        self.monitor = start_monitor()
        self.relay = Relay()
        self.assertTrue(self.relay.wait_bound())
        self.relay.find_main_window()
        self.send(b"back")
        self.assertEqual(self.monitor.receive_all(1, ARRIVAL), [b"back"])


class SecondCopyTest(unittest.TestCase):
    def test_second_copy_reports_the_bind_failure_and_runs_on(self):
        monitor = start_monitor()
        self.addCleanup(monitor.close)
        first = Relay()
        self.assertTrue(first.wait_bound())
        first_pid = first.find_main_window()
        self.assertIsNotNone(first_pid)
        second = Relay()
        try:
            box = PROBE.wait_dialog(TITLE)
            self.assertIsNotNone(box, "no message box titled %r" % TITLE)
            box_pid, text = box
            self.assertNotEqual(box_pid, first_pid, "the message box is the second copy's")
            self.assertEqual(text, BIND_FAILURE)
            self.assertTrue(PROBE.dismiss(TITLE))
            self.assertTrue(harness.wait_for(lambda: PROBE.dialog(TITLE) is None, 10, step=0.2))
            # It runs on, with its main window, and without a socket of its own.
            time.sleep(0.5)
            self.assertTrue(second.alive())
            self.assertIn(box_pid, PROBE.window_pids(MAIN_FORM))
            self.assertEqual(sockets_on(PORT), 1)
            second.windows_pid = box_pid
            # The first copy still relays, once.
            with harness.UdpSender(PEER_ADDR, loop=False) as out:
                out.send(HEADER + b"still here", GROUP)
            self.assertEqual(monitor.receive_all(1, ARRIVAL), [b"still here"])
            self.assertEqual(monitor.quiet(1.0), [])
        finally:
            second_code = second.close()
            first_code = first.close()
        self.assertEqual(second_code, 0)
        self.assertEqual(first_code, 0)

    def test_closing_the_second_copy_while_its_error_box_is_open(self):
        # A stop request (WM_CLOSE, as taskkill without /F sends it) while
        # the start-up error box is shown ends the program, and the box with
        # it. (Under Wine the process takes about 2 s more to end than after
        # a dismissed box; the box itself goes at once.)
        first = Relay()
        self.assertTrue(first.wait_bound())
        first.find_main_window()
        second = Relay()
        try:
            box = PROBE.wait_dialog(TITLE)
            self.assertIsNotNone(box, "no message box titled %r" % TITLE)
            second.windows_pid = box[0]
            asked = time.monotonic()
            self.assertGreater(PROBE.close(MAIN_FORM, second.windows_pid), 0)
            self.assertTrue(harness.wait_for(lambda: PROBE.dialog(TITLE) is None, 2.0, step=0.1),
                            "the box stayed open")
            # Asked once only: a request lost at the box must show.
            code = second.program.proc.wait(max(0.0, asked + 5.0 - time.monotonic()))
            self.assertEqual(code, 0)
        finally:
            if second.alive():
                second.close(timeout=5)
            second.program.close()
            first_code = first.close()
        self.assertEqual(first_code, 0)


class ShutdownTest(unittest.TestCase):
    def test_closing_the_main_window_ends_the_program_cleanly(self):
        relay = Relay()
        self.assertTrue(relay.wait_bound())
        relay.find_main_window()
        # Within five seconds (close() raises TimeoutExpired otherwise).
        self.assertEqual(relay.close(timeout=5), 0)
        self.assertFalse(harness.udp_port_bound(PORT))
        self.assertEqual(PROBE.window_pids(MAIN_FORM), [])


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
    harness.enter_own_namespace("OSTRIVANE_E2E_WIN32_NS", unshare=wine.NAMESPACE)
    wine.private_server_dir()
    harness.make_veth_pair()
    display = harness.XServer()
    try:
        with tempfile.TemporaryDirectory(prefix="ostrivane-wine-") as folder:
            with wine.WinePrefix(os.path.join(folder, "prefix"), display=display.name) as PREFIX:
                PROBE = wine.WindowProbe(PREFIX, WINDOW_PROBE)
                code_page = PROBE.code_page()
                if code_page != 1252:
                    print("the Wine prefix runs with code page %d, not 1252" % code_page)
                    return 1
                result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    finally:
        display.stop()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
