#!/usr/bin/env python3
"""Tests of the tray icon on a real X server: Xvfb with the `trayer` tray
host, the real `ostrivane` binary, clicks by xdotool and screenshots by
ImageMagick. The screenshots stay in the folder given by --shots.

The relay binds its datagram port and joins its group, so everything runs
inside a network namespace of the test's own (only loopback in it): the
script re-executes itself under `unshare --net --map-root-user`.

Usage: tray_test.py --ostrivane PATH --shots DIR [unittest options]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import ostrivane_harness as harness
from ostrivane_harness import wait_for

OSTRIVANE = None
SHOTS = None
CONVERT = "/usr/bin/convert"
IMPORT = "/usr/bin/import"
TILE = (0x0E, 0x6B, 0x78)  # the icon's tile colour
SCREEN = (640, 480)
HINT = "Lyravox Remote Server"


class Display(harness.XServer):
    """The test's X server; its screenshots go to SHOTS."""

    def __init__(self):
        super().__init__(SCREEN)

    def screenshot(self, name):
        """Saves the whole screen as NAME.png and answers its pixels."""
        path = os.path.join(SHOTS, name + ".png")
        self.run(IMPORT, "-window", "root", "-depth", "8", path)
        ppm = subprocess.run([CONVERT, path, "-depth", "8", "ppm:-"], check=True,
                             capture_output=True).stdout
        return Image(ppm)


class Image:
    def __init__(self, ppm):
        # P6 <w> <h> <max>\n<rgb...>
        fields = ppm.split(maxsplit=4)
        assert fields[0] == b"P6"
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = fields[4]

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def count(self, box, colour, tolerance=24):
        x0, y0, w, h = box
        n = 0
        for y in range(max(0, y0), min(self.height, y0 + h)):
            for x in range(max(0, x0), min(self.width, x0 + w)):
                p = self.pixel(x, y)
                if all(abs(a - b) <= tolerance for a, b in zip(p, colour)):
                    n += 1
        return n


def read_text(display, box, name):
    """The lines tesseract reads in `box` of the screenshot NAME.png."""
    x, y, w, h = box
    crop = os.path.join(SHOTS, name + "-ocr.png")
    subprocess.run([CONVERT, os.path.join(SHOTS, name + ".png"), "-crop",
                    "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-colorspace", "Gray",
                    "-resize", "300%", crop], check=True)
    text = subprocess.run(["tesseract", crop, "-", "--psm", "6"], capture_output=True,
                          text=True, check=True).stdout
    return [line.strip() for line in text.splitlines() if line.strip()]


class TrayHost:
    """`trayer` docked at the top right edge of the screen."""

    def __init__(self, display):
        self.proc = subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
             "--width", "120", "--heighttype", "pixel", "--height", "24", "--SetDockType",
             "false"],
            env=display.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        self.display = display
        # Ready once its window is mapped.
        wait_for(lambda: display.run("xdotool", "search", "--onlyvisible", "--pid",
                                     str(self.proc.pid), check=False).strip())

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)
        # Gone for the X server too (its windows destroyed, the tray
        # selection free), or a host started next may find the tray taken.
        wait_for(lambda: not self.display.run("xdotool", "search", "--pid", str(self.proc.pid),
                                              check=False).strip())


class Relay(harness.Program):
    """The relay on the test's display, in `locale`, with a runtime folder
    of its own."""

    def __init__(self, display, locale):
        self.runtime = tempfile.TemporaryDirectory()
        self.display = display
        super().__init__(OSTRIVANE, harness.relay_env(self.runtime.name, display=display.name,
                                                      locale=locale, base=display.env))

    def windows(self):
        """The program's visible X windows."""
        return self.display.windows(self.proc.pid)

    def icon(self, timeout=10.0):
        """The docked icon's window: small, square, inside the tray."""
        def find():
            for w in self.windows():
                if not w.tooltip and w.y < 24 and 8 <= w.width <= 32 and w.width == w.height:
                    return w
            return None
        return wait_for(find, timeout)

    def menus(self, icon):
        """The program's visible windows other than the icon and its hint."""
        return [w for w in self.windows() if w.id != icon.id and not w.tooltip]

    def menu(self, icon, timeout=5.0):
        def find():
            shown = self.menus(icon)
            return shown[0] if shown else None
        return wait_for(find, timeout)

    def stop(self):
        try:
            return super().stop()
        finally:
            self.runtime.cleanup()
            self.close()


GERMAN = {"LANG": "de_DE.UTF-8"}
ENGLISH = {"LANG": "en_US.UTF-8"}


class TrayTest(unittest.TestCase):
    def setUp(self):
        self.display = Display()
        self.host = None
        self.relay = None

    def tearDown(self):
        if self.relay is not None:
            self.relay.stop()
        if self.host is not None:
            self.host.stop()
        self.display.stop()

    def start(self, locale=GERMAN, host=True):
        if host:
            self.host = TrayHost(self.display)
        self.relay = Relay(self.display, locale)
        return self.relay

    def click(self, x, y, button):
        self.display.run("xdotool", "mousemove", str(x), str(y), "click", str(button))

    def assertIconShown(self, shot, icon):
        area = icon.width * icon.height
        self.assertGreater(shot.count(icon.box, TILE), area // 3,
                           "the icon's tile colour is not on the screen")
        self.assertGreater(shot.count(icon.box, (255, 255, 255), 40), area // 20,
                           "the icon's sign is not on the screen")

    def assertIconGone(self, shot):
        tray = (SCREEN[0] - 120, 0, 120, 24)
        self.assertEqual(shot.count(tray, TILE), 0, "the icon is still in the tray")

    def open_menu(self, relay, icon):
        """Presses the right button on the icon: the menu is open before the
        button is released, and it is the only one."""
        x, y = icon.centre
        self.display.run("xdotool", "mousemove", str(x), str(y), "mousedown", "3")
        menu = relay.menu(icon)
        if menu is not None:
            time.sleep(0.3)  # time for a second menu to show
            self.assertEqual(len(relay.menus(icon)), 1, "more than one menu opened")
        self.display.run("xdotool", "mouseup", "3")
        if menu is not None:
            time.sleep(0.2)
            self.assertEqual(len(relay.menus(icon)), 1, "releasing the button changed the menus")
        return menu

    def test_icon_hint_menu_and_exit_in_german(self):
        relay = self.start(GERMAN)
        icon = relay.icon()
        self.assertIsNotNone(icon, relay.error_output())
        self.assertIconShown(self.display.screenshot("tray-icon"), icon)

        # Resting on the icon shows the hint.
        self.display.run("xdotool", "mousemove", *map(str, icon.centre))
        tip = wait_for(lambda: [w for w in relay.windows() if w.tooltip], 5.0)
        self.assertTrue(tip, "no hint appeared")
        self.display.screenshot("tray-hint")
        # Its second line says what the relay is doing: in this namespace,
        # with loopback only, it waits for a network.
        self.assertEqual(read_text(self.display, tip[0].box, "tray-hint"),
                         [HINT, "Wartet auf ein Netzwerk"])

        menu = self.open_menu(relay, icon)
        self.assertIsNotNone(menu, "the right button opened no menu")
        time.sleep(0.3)
        self.assertIsNotNone(relay.menu(icon, 0.1), "releasing the button closed the menu")
        # Left edge at the pointer, unless the screen's edge pushes it back.
        pointer_x = icon.centre[0]
        self.assertTrue(menu.x == pointer_x or menu.x + menu.width == SCREEN[0],
                        (menu.x, menu.width, pointer_x))
        self.assertLessEqual(abs(menu.y - icon.centre[1]), 2)
        self.display.screenshot("tray-menu-de")

        # Choosing the entry ends the program and takes the icon away.
        self.click(*menu.centre, 1)
        self.assertEqual(wait_for(lambda: relay.proc.poll() is not None, 10.0), True)
        self.assertEqual(relay.proc.returncode, 0, relay.error_output())
        time.sleep(0.3)
        self.assertIconGone(self.display.screenshot("tray-after-exit"))
        self.assertIsNone(self.host.proc.poll(), "the tray host went down too")

    def test_menu_language_follows_the_locale(self):
        # German has the access key B ("&Beenden"); English ("Exit") has none.
        cases = [
            ({"LANG": "de_DE.UTF-8"}, True),
            ({"LANG": "de_LI.UTF-8"}, True),
            ({"LC_MESSAGES": "de_CH.UTF-8", "LANG": "en_US.UTF-8"}, True),
            ({"LC_ALL": "fr_FR.UTF-8", "LANG": "de_AT.UTF-8"}, False),
            ({"LANG": "de"}, False),  # no country
            ({"LC_ALL": "C"}, False),
        ]
        for locale, german in cases:
            with self.subTest(locale=locale):
                relay = self.start(locale)
                try:
                    icon = relay.icon()
                    self.assertIsNotNone(icon, relay.error_output())
                    self.assertIsNotNone(self.open_menu(relay, icon))
                    self.display.run("xdotool", "key", "b")
                    ended = wait_for(lambda: not relay.alive(), 3.0 if german else 0.7)
                    self.assertEqual(bool(ended), german)
                finally:
                    relay.stop()
                    self.host.stop()
                    self.relay = self.host = None

    def test_english_entry_has_no_access_key_and_ends_the_program(self):
        relay = self.start(ENGLISH)
        icon = relay.icon()
        self.assertIsNotNone(icon, relay.error_output())
        menu = self.open_menu(relay, icon)
        self.assertIsNotNone(menu)
        self.display.screenshot("tray-menu-en")
        self.display.run("xdotool", "key", "b")
        time.sleep(0.5)
        self.assertTrue(relay.alive(), "B chose the entry of the English menu")
        self.click(*menu.centre, 1)
        self.assertTrue(wait_for(lambda: not relay.alive(), 10.0))
        self.assertEqual(relay.proc.returncode, 0)

    def test_german_and_english_menus_differ(self):
        pictures = {}
        for name, locale in (("de", GERMAN), ("en", ENGLISH)):
            relay = self.start(locale)
            icon = relay.icon()
            menu = self.open_menu(relay, icon)
            self.assertIsNotNone(menu)
            time.sleep(0.2)
            shot = self.display.screenshot("tray-menu-compare-" + name)
            pictures[name] = [shot.pixel(x, y) for y in range(menu.y, menu.y + menu.height)
                              for x in range(menu.x, menu.x + menu.width)]
            self.display.run("xdotool", "key", "Escape")
            relay.stop()
            self.host.stop()
            self.relay = self.host = None
        self.assertTrue(pictures["de"] != pictures["en"], "the two menus look the same")

    def test_other_clicks_do_nothing_and_outside_click_closes_the_menu(self):
        relay = self.start(GERMAN)
        icon = relay.icon()
        x, y = icon.centre
        for button, repeat in ((1, 1), (1, 2), (2, 1)):
            self.display.run("xdotool", "mousemove", str(x), str(y), "click", "--repeat",
                             str(repeat), "--delay", "80", str(button))
            time.sleep(0.5)
            opened = [w for w in relay.windows() if w.id != icon.id and not w.tooltip]
            self.assertEqual(opened, [], "button %d x%d opened a window" % (button, repeat))
            self.assertTrue(relay.alive())
        menu = self.open_menu(relay, icon)
        self.assertIsNotNone(menu)
        self.click(100, 300, 1)
        self.assertTrue(wait_for(lambda: relay.menu(icon, 0.05) is None, 5.0),
                        "the menu stayed open")
        time.sleep(0.3)
        self.assertTrue(relay.alive(), "a click outside the menu ran its entry")

    def test_termination_while_the_start_up_report_is_shown(self):
        # A second relay cannot bind the port: its start-up report is a
        # message box. SIGTERM ends it there.
        first = self.start(GERMAN, host=False)
        self.assertTrue(first.wait_bound(), first.error_output())
        second = Relay(self.display, GERMAN)
        try:
            self.assertTrue(wait_for(lambda: second.windows(), 10.0),
                            "no message box\n" + second.error_output())
            second.proc.terminate()
            self.assertTrue(wait_for(lambda: not second.alive(), 5.0),
                            "SIGTERM did not end the program at its message box")
            self.assertEqual(second.returncode, 0)
            self.assertTrue(first.alive())
        finally:
            if second.alive():
                second.proc.kill()
            second.stop()

    def test_icon_returns_when_the_tray_host_restarts(self):
        relay = self.start(GERMAN)
        self.assertIsNotNone(relay.icon())
        self.host.stop()
        self.assertIconGone(self.display.screenshot("tray-host-gone"))
        self.host = TrayHost(self.display)
        icon = relay.icon()
        self.assertIsNotNone(icon, "the icon did not come back")
        time.sleep(0.3)
        self.assertIconShown(self.display.screenshot("tray-host-back"), icon)
        self.assertIsNotNone(self.open_menu(relay, icon), "the menu no longer opens")

    def test_icon_appears_when_the_tray_host_starts_later(self):
        relay = self.start(GERMAN, host=False)
        time.sleep(1.0)
        self.assertTrue(relay.alive(), relay.error_output())
        self.host = TrayHost(self.display)
        icon = relay.icon()
        self.assertIsNotNone(icon, "no icon after the tray host started")
        time.sleep(0.3)
        self.assertIconShown(self.display.screenshot("tray-host-late"), icon)


def main():
    global OSTRIVANE, SHOTS
    (OSTRIVANE, SHOTS), argv = harness.test_arguments("--ostrivane", "--shots")
    harness.require("tray_test",
                    tools=("Xvfb", "trayer", "xdotool", "xprop", "unshare", "tesseract"),
                    files=(CONVERT, IMPORT))
    harness.enter_own_namespace("OSTRIVANE_TRAY_NETNS")
    harness.bring_up_loopback()
    shutil.rmtree(SHOTS, ignore_errors=True)
    os.makedirs(SHOTS)
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
