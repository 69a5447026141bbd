#!/usr/bin/python3
"""Tests of the tray icon on a StatusNotifierItem host: a session bus of the
test's own (dbus-daemon) with a StatusNotifierWatcher of the test's own, the
real `ostrivane` binary on an Xvfb display without an X11 tray, and the
test as the host: it reads the item and its exported menu
(com.canonical.dbusmenu) and clicks as a host does.

Hosts such as GNOME Shell's AppIndicator extension show only the exported
menu; KDE Plasma without a menu importer calls ContextMenu and lets the
program show its menu.

KDE Plasma hands X11 tray icons on to the bus through xembedsniproxy; the
test has a stand-in for it (XEmbedSniProxy) for the relay started while the
proxy runs but the watcher is not there yet.

The relay binds its datagram port and joins its group, so everything runs
inside a network namespace of the test's own (only loopback in it): the
script re-executes itself under `unshare --net --map-root-user`.

Runs with the system's Python (/usr/bin/python3), for which Debian installs
python3-gi.

Usage: tray_sni_test.py --ostrivane PATH [unittest options]
"""
import ctypes
import sys
import tempfile
import threading
import time
import unittest

import ostrivane_harness as harness
from ostrivane_harness import wait_for

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


class XEmbedSniProxy:
    """An X11 tray that hands every icon docked in it on to the session bus
    as a StatusNotifierItem of its own, as KDE's xembedsniproxy does: it owns
    the display's tray selection and, for each dock request, registers an
    item with the StatusNotifierWatcher. A request that comes while no
    watcher is there is lost: it is not tried again. Xlib through ctypes, in
    a thread of its own."""

    CLIENT_MESSAGE = 33
    REQUEST_DOCK = 0

    def __init__(self, display, address):
        self.display = display
        self.address = address
        self._docks = []
        self._items = []  # the bus connections of the items registered
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._ready = threading.Event()
        self._error = None
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        self._ready.wait(10)
        if self._error is not None or not self._ready.is_set():
            raise RuntimeError("the proxy did not start: %s" % self._error)

    def docks(self):
        """The X windows that asked to dock, in order."""
        with self._lock:
            return list(self._docks)

    def stop(self):
        self._stop.set()
        self._thread.join(10)
        for conn in self._items:
            conn.close_sync(None)

    def _register(self, window):
        Gio, GLib = harness.gio()
        conn = harness.bus_connection(self.address)
        try:
            conn.call_sync(harness.SNI_WATCHER, harness.SNI_WATCHER_PATH, harness.SNI_WATCHER,
                           "RegisterStatusNotifierItem",
                           GLib.Variant("(s)", (harness.SNI_ITEM_PATH,)), None,
                           Gio.DBusCallFlags.NO_AUTO_START, 2000, None)
        except GLib.Error:
            conn.close_sync(None)  # no watcher: the item for `window` is lost
            return
        self._items.append(conn)

    def _serve(self):
        c = ctypes
        try:
            x = c.CDLL("libX11.so.6")
            x.XOpenDisplay.restype = c.c_void_p
            x.XOpenDisplay.argtypes = [c.c_char_p]
            x.XDefaultRootWindow.restype = c.c_ulong
            x.XDefaultRootWindow.argtypes = [c.c_void_p]
            x.XCreateSimpleWindow.restype = c.c_ulong
            x.XCreateSimpleWindow.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_int, c.c_uint,
                                              c.c_uint, c.c_uint, c.c_ulong, c.c_ulong]
            x.XInternAtom.restype = c.c_ulong
            x.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
            x.XSetSelectionOwner.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong, c.c_ulong]
            x.XGetSelectionOwner.restype = c.c_ulong
            x.XGetSelectionOwner.argtypes = [c.c_void_p, c.c_ulong]
            for name in ("XPending", "XFlush", "XCloseDisplay"):
                getattr(x, name).argtypes = [c.c_void_p]
            x.XNextEvent.argtypes = [c.c_void_p, c.c_void_p]
            dpy = x.XOpenDisplay(self.display.name.encode())
            if not dpy:
                raise RuntimeError("no display")
            window = x.XCreateSimpleWindow(dpy, x.XDefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0)
            selection = x.XInternAtom(dpy, b"_NET_SYSTEM_TRAY_S0", 0)
            opcode = x.XInternAtom(dpy, b"_NET_SYSTEM_TRAY_OPCODE", 0)
            x.XSetSelectionOwner(dpy, selection, window, 0)
            if x.XGetSelectionOwner(dpy, selection) != window:
                raise RuntimeError("the tray selection is taken")
            x.XFlush(dpy)
        except Exception as e:  # reported to the starting thread
            self._error = e
            self._ready.set()
            return
        self._ready.set()
        # An XEvent is 24 longs; a client message has its window at long 4,
        # its type at 5 and its data at 7 to 11.
        event = (c.c_long * 24)()
        while not self._stop.is_set():
            while x.XPending(dpy):
                x.XNextEvent(dpy, c.byref(event))
                if (event[0] & 0xFFFFFFFF == self.CLIENT_MESSAGE and event[5] == opcode
                        and event[8] == self.REQUEST_DOCK):
                    with self._lock:
                        self._docks.append(event[9])
                    self._register(event[9])
            time.sleep(0.02)
        x.XCloseDisplay(dpy)


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

    def watcher_on_bus(self):
        Gio, GLib = harness.gio()
        conn = harness.bus_connection(self.bus.address)
        try:
            return conn.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                  "org.freedesktop.DBus", "NameHasOwner",
                                  GLib.Variant("(s)", (harness.SNI_WATCHER,)), None,
                                  Gio.DBusCallFlags.NONE, 2000, None).unpack()[0]
        finally:
            conn.close_sync(None)

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

    def test_item_appears_when_the_watcher_comes_after_the_relay_docked_in_a_proxy(self):
        # KDE Plasma while kded5, which holds the watcher, is late or
        # restarting: the relay finds no watcher at start and docks in
        # xembedsniproxy's X11 tray, whose item for it finds no watcher either.
        self.watcher.stop()
        self.assertTrue(wait_for(lambda: not self.watcher_on_bus(), 5.0), "the watcher stayed")
        proxy = XEmbedSniProxy(self.display, self.bus.address)
        try:
            self.relay = Relay(self.display, self.bus, ENGLISH)
            self.assertTrue(wait_for(proxy.docks, 10.0),
                            "the relay did not dock in the X11 tray\n" + self.relay.error_output())
            time.sleep(0.5)
            self.assertTrue(self.relay.alive(), self.relay.error_output())

            self.watcher = harness.StatusNotifierWatcher(self.bus.address)
            self.assertIsNotNone(self.watcher.wait_item(5.0),
                                 "no item for the relay after the watcher came")
            docked = proxy.docks()[-1]
            pid = self.display.run("xprop", "-id", str(docked), "_NET_WM_PID", check=False)
            self.assertIn("= %d" % self.relay.pid, pid, "not the relay's icon that docked again")
            self.assertTrue(self.relay.alive())
        finally:
            # Before the display goes: Xlib ends a process whose display is gone.
            proxy.stop()

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
