#!/usr/bin/python3
"""Tests of the tray icon on a StatusNotifierItem host: a session bus of the
test's own (dbus-daemon) with a StatusNotifierWatcher of the test's own, the
real `ostrivane` binary on an Xvfb display without an X11 tray, and the
test as the host: it reads the item and its exported menu
(com.canonical.dbusmenu) and clicks as a host does.

Hosts such as GNOME Shell's AppIndicator extension show only the exported
menu; KDE Plasma without a menu importer calls ContextMenu and lets the
program show its menu.

The relay binds its datagram port and joins its group, so everything runs
inside a network namespace of the test's own (only loopback in it): the
script re-executes itself under `unshare --net --map-root-user`.

Runs with the system's Python (/usr/bin/python3), for which Debian installs
python3-gi.

Usage: tray_sni_test.py --ostrivane PATH [unittest options]
"""
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
import ostrivane_harness as harness  # noqa: E402
from ostrivane_harness import wait_for  # noqa: E402

OSTRIVANE = None
HINT = "Lyravox Remote Server"
# The hint's second line in this test's namespace, which has no address of
# its own besides loopback.
WAITING = {"de": "Wartet auf ein Netzwerk", "en": "Waiting for a network"}

GERMAN = {"LANG": "de_DE.UTF-8"}
ENGLISH = {"LANG": "en_US.UTF-8"}


class Relay(harness.Program):
    """The relay on `display` and `bus`, in `locale`, with a runtime folder
    of its own."""

    def __init__(self, display, bus, locale):
        self.runtime = tempfile.TemporaryDirectory()
        self.display = display
        super().__init__(OSTRIVANE, harness.relay_env(self.runtime.name, display=display.name,
                                                      locale=locale, base=display.env,
                                                      bus=bus.address))

    def windows(self):
        """The program's visible X windows other than tooltips: its menus."""
        return [w for w in self.display.windows(self.proc.pid) if not w.tooltip]

    def stop(self):
        try:
            return super().stop()
        finally:
            self.runtime.cleanup()
            self.close()


class SniTrayTest(unittest.TestCase):
    def setUp(self):
        self.display = harness.XServer()
        self.bus = harness.SessionBus()
        self.watcher = harness.StatusNotifierWatcher(self.bus.address)
        self.relay = None
        self.host = None

    def tearDown(self):
        if self.host is not None:
            self.host.close()
        if self.relay is not None:
            self.relay.stop()
        self.watcher.stop()
        self.bus.stop()
        self.display.stop()

    def start(self, locale):
        """Starts the relay and answers the host's view of its item."""
        self.relay = Relay(self.display, self.bus, locale)
        item = self.watcher.wait_item()
        self.assertIsNotNone(item, "no item registered\n" + self.relay.error_output())
        self.host = harness.StatusNotifierHost(self.bus.address, item)
        return self.host

    def stop(self):
        self.host.close()
        self.relay.stop()
        self.host = self.relay = None

    def the_entry(self, host):
        """The exported menu's one entry, as (id, properties)."""
        self.assertNotEqual(host.menu_path(), harness.NO_MENU, "the menu is not exported")
        entries = host.menu_entries()
        self.assertEqual(len(entries), 1, entries)
        return entries[0]

    def test_exported_entry_in_the_interface_language_ends_the_program(self):
        # dbusmenu marks the access key with "_": "&Beenden" is "_Beenden".
        cases = [
            (GERMAN, "_Beenden", WAITING["de"]),
            ({"LANG": "de_AT.UTF-8"}, "_Beenden", WAITING["de"]),
            (ENGLISH, "Exit", WAITING["en"]),
            ({"LC_ALL": "fr_FR.UTF-8", "LANG": "de_DE.UTF-8"}, "Exit", WAITING["en"]),
            ({"LC_ALL": "C"}, "Exit", WAITING["en"]),
        ]
        for locale, label, status in cases:
            with self.subTest(locale=locale):
                host = self.start(locale)
                try:
                    # The item's tooltip: the hint, with what the relay is
                    # doing on its second line.
                    self.assertEqual(host.property("ToolTip")[2], HINT + "\n" + status)
                    self.assertFalse(host.property("ItemIsMenu"))
                    entry_id, properties = self.the_entry(host)
                    self.assertEqual(properties.get("label"), label)
                    self.assertNotEqual(properties.get("visible"), False)
                    self.assertNotEqual(properties.get("enabled"), False)
                    self.assertNotIn(properties.get("type"), ("separator",))
                    self.assertNotIn("children-display", properties, "not a submenu")
                    self.assertEqual(self.relay.windows(), [], "the host's menu is the host's")

                    host.click(entry_id)
                    self.assertTrue(wait_for(lambda: not self.relay.alive(), 10.0),
                                    "the entry did not end the program")
                    self.assertEqual(self.relay.returncode, 0, self.relay.error_output())
                    self.assertTrue(wait_for(lambda: not self.watcher.items(), 5.0),
                                    "the item stayed")
                finally:
                    self.stop()

    def test_context_menu_call_opens_one_menu_at_the_pointer(self):
        host = self.start(ENGLISH)
        x, y = 200, 150
        self.display.run("xdotool", "mousemove", str(x), str(y))
        started = time.monotonic()
        host.context_menu(x, y)
        self.assertLess(time.monotonic() - started, 2.0, "the call waited for the menu")
        menu = wait_for(self.relay.windows, 5.0)
        self.assertTrue(menu, "ContextMenu opened no menu")
        time.sleep(0.3)  # time for a second menu to show
        menus = self.relay.windows()
        self.assertEqual(len(menus), 1, "more than one menu opened")
        self.assertEqual((menus[0].x, menus[0].y), (x, y), "not at the pointer")

        # A click elsewhere closes it without running the entry.
        self.display.run("xdotool", "mousemove", "20", "400", "click", "1")
        self.assertTrue(wait_for(lambda: not self.relay.windows(), 5.0), "the menu stayed open")
        time.sleep(0.3)
        self.assertTrue(self.relay.alive(), "a click outside the menu ran its entry")

        # Asked again, it opens again; choosing its entry ends the program.
        self.display.run("xdotool", "mousemove", str(x), str(y))
        host.context_menu(x, y)
        menus = wait_for(self.relay.windows, 5.0)
        self.assertEqual(len(menus), 1)
        self.display.run("xdotool", "mousemove", *map(str, menus[0].centre), "click", "1")
        self.assertTrue(wait_for(lambda: not self.relay.alive(), 10.0),
                        "choosing the entry did not end the program")
        self.assertEqual(self.relay.returncode, 0, self.relay.error_output())

    def test_host_click_while_the_programs_menu_is_open(self):
        host = self.start(GERMAN)
        entry_id, _ = self.the_entry(host)
        self.display.run("xdotool", "mousemove", "100", "100")
        host.context_menu(100, 100)
        self.assertTrue(wait_for(self.relay.windows, 5.0), "ContextMenu opened no menu")
        host.click(entry_id)
        self.assertTrue(wait_for(lambda: not self.relay.alive(), 10.0))
        self.assertEqual(self.relay.returncode, 0, self.relay.error_output())

    def test_other_clicks_do_nothing(self):
        host = self.start(GERMAN)
        self.display.run("xdotool", "mousemove", "100", "100")
        for name, act in (("Activate", host.activate),
                          ("SecondaryActivate", host.secondary_activate)):
            act(100, 100)
            time.sleep(0.5)
            self.assertEqual(self.relay.windows(), [], "%s opened a window" % name)
            self.assertTrue(self.relay.alive(), name)
        self.assertEqual(self.the_entry(host)[1].get("label"), "_Beenden")

    def test_item_returns_to_a_restarted_host_with_its_menu(self):
        host = self.start(ENGLISH)
        self.the_entry(host)
        self.watcher.stop()
        self.watcher = harness.StatusNotifierWatcher(self.bus.address)
        item = self.watcher.wait_item()
        self.assertIsNotNone(item, "the item did not register again")
        self.assertEqual(item, (host.name, host.path))
        entry_id, properties = self.the_entry(host)
        self.assertEqual(properties.get("label"), "Exit")
        host.click(entry_id)
        self.assertTrue(wait_for(lambda: not self.relay.alive(), 10.0))
        self.assertEqual(self.relay.returncode, 0, self.relay.error_output())


def main():
    global OSTRIVANE
    (OSTRIVANE,), argv = harness.test_arguments("--ostrivane")
    no_gi = []
    try:
        harness.gio()
    except (ImportError, ValueError) as e:
        no_gi.append("python3-gi for %s (%s)" % (sys.executable, e))
    harness.require("tray_sni_test", tools=("Xvfb", "xdotool", "xprop", "dbus-daemon", "unshare"),
                    also=no_gi)
    harness.enter_own_namespace("OSTRIVANE_TRAY_SNI_NETNS")
    harness.bring_up_loopback()
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
