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
import sys
import time
import unittest

import ostrivane_harness as harness
import ostrivane_wine as wine
from ostrivane_wine import BIND_FAILURE, MAIN_FORM, TITLE
from ostrivane_harness import GROUP, HEADER, PEER_ADDR, PORT

OSTRIVANE = SLOT_MONITOR = None
# Set up by main(): the Wine prefix of this run and the probe of its windows.
PREFIX = PROBE = None

# How long a relayed command may take to arrive. The program takes ~1 s to
# put a command of 8 KB without line breaks into its log box under Wine.
ARRIVAL = 15.0

# What code page 1252 makes of U+FEFF, which it lacks.
BOM_IN_1252 = b"?"


def new_relay():
    return wine.Relay(PREFIX, PROBE, OSTRIVANE)


def start_monitor(*options):
    return wine.start_slot_monitor(PREFIX, SLOT_MONITOR, *options)


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
        self.relay = new_relay()
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


class RelayTest(harness.RelayCases, RelayTestCase):
    BATCH = 30.0

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

    def test_payload_is_taken_whole(self):
        # A byte-order mark is part of the text (code page 1252 has no byte
        # for it: BOM_IN_1252), as are line ends and a trailing zero.
        self.send(HEADER + b"\xef\xbb\xbfx\r\ny\n\x00")
        self.assertRelayed([BOM_IN_1252 + b"x\r\ny\n\x00"])

    def test_joins_the_group_on_the_first_adapter_only(self):
        # Wine lists lo, then the veth ends in the order of their interface
        # numbers: HOST_IF comes first.
        self.assertEqual(group_members(), {"lo": 1, harness.HOST_IF: 2, harness.PEER_IF: 1})


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
        self.relay = new_relay()
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
        self.relay = new_relay()
        self.assertTrue(self.relay.wait_bound())
        self.relay.find_main_window()
        self.send(b"back")
        self.assertEqual(self.monitor.receive_all(1, ARRIVAL), [b"back"])


class SecondCopyTest(unittest.TestCase):
    def test_second_copy_reports_the_bind_failure_and_runs_on(self):
        monitor = start_monitor()
        self.addCleanup(monitor.close)
        first = new_relay()
        self.assertTrue(first.wait_bound())
        first_pid = first.find_main_window()
        self.assertIsNotNone(first_pid)
        second = new_relay()
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
        first = new_relay()
        self.assertTrue(first.wait_bound())
        first.find_main_window()
        second = new_relay()
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
        relay = new_relay()
        self.assertTrue(relay.wait_bound())
        relay.find_main_window()
        # Within five seconds (close() raises TimeoutExpired otherwise).
        self.assertEqual(relay.close(timeout=5), 0)
        self.assertFalse(harness.udp_port_bound(PORT))
        self.assertEqual(PROBE.window_pids(MAIN_FORM), [])


def main():
    global OSTRIVANE, SLOT_MONITOR, PREFIX, PROBE
    (OSTRIVANE, SLOT_MONITOR, window_probe), argv = harness.test_arguments(
        "--ostrivane", "--slot-monitor", "--window-probe")
    with wine.session("OSTRIVANE_E2E_WIN32_NS", window_probe) as (PREFIX, PROBE, _):
        code_page = PROBE.code_page()
        if code_page != 1252:
            print("the Wine prefix runs with code page %d, not 1252" % code_page)
            return 1
        return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
