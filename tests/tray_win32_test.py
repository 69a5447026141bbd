#!/usr/bin/env python3
"""Tests of the Windows program's tray icon under Wine: the real
Ostrivane.exe on an Xvfb of the test's own with the `trayer` tray host, in
which Wine's shell docks the icons of its notification area. xdotool
clicks, ImageMagick takes screenshots (they stay in the folder given by
--shots), tesseract reads the hint and the menu.

The relay binds its datagram port and joins its group, and the wineserver
owns the program's sockets, so everything runs in a network namespace of
the test's own with a veth pair, and the wineserver is started inside it:
the script re-executes itself under `unshare --net --mount --map-root-user`,
mounts a private tmpfs over /tmp/.wine-UID (so that no wineserver outside is
reused) and locks the Wine prefix given by --prefix while it runs.

The shell is Wine's: its desktop process is started by the test helper with
the `systray` trace channel on, and the test learns from that trace which
window and identity the shell got the icon from (the program's notification
window, the icon object's identity); that is what the helper needs to remove
the icon from outside, as a restarting shell would lose it.

Wine's shell ends a moment after the session's last program, so the helper
that started it stays for the whole session.

Two things the test does otherwise than a user on Windows, because Wine on X11
cannot give a hidden window the keyboard or the pointer: keys for the open
menu go to the menu's X window after the test has given it the focus (on
Windows the program's foreground window has it), and a click outside the menu
is checked to run nothing but not to close it (Wine closes a menu on such a
click only through a pointer grab on the X window of the menu's owner, which
is hidden; on Windows the click closes it).

Usage: tray_win32_test.py --ostrivane EXE --helper EXE --icon ICO --prefix DIR
                          --shots DIR [unittest options]
"""
import fcntl
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import ostrivane_harness as harness
import ostrivane_wine as wine
from ostrivane_harness import wait_for

WINE, WINESERVER = wine.WINE, wine.WINESERVER
CONVERT = "/usr/bin/convert"
IMPORT = "/usr/bin/import"
SCREEN = (640, 480)
TRAY = (0, 0, 120, 22)  # trayer at the top left edge
HINT = "Lyravox Remote Server"
# The hint's second line in German, listening on the veth pair's first
# address (read without the umlaut, which tesseract's English model misreads).
LISTENING_DE = re.compile(r"Empf\S{1,3}ngt auf 10\.99\.0\.1")

OSTRIVANE = HELPER = ICON = PREFIX = SHOTS = None

ENGLISH = {"LANG": "en_US.UTF-8"}
GERMAN = {"LANG": "de_DE.UTF-8"}


# ---- Pictures ---------------------------------------------------------------------

class Image:
    def __init__(self, path):
        ppm = subprocess.run([CONVERT, path, "-depth", "8", "ppm:-"], check=True,
                             capture_output=True).stdout
        fields = ppm.split(maxsplit=4)  # P6 <w> <h> <max>\n<rgb...>
        assert fields[0] == b"P6"
        self.path = path
        self.width, self.height = int(fields[1]), int(fields[2])
        self.data = fields[4]

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def count(self, box, colour, tolerance=24):
        x0, y0, w, h = box
        return sum(1 for y in range(max(0, y0), min(self.height, y0 + h))
                   for x in range(max(0, x0), min(self.width, x0 + w))
                   if close(self.pixel(x, y), colour, tolerance))


def close(a, b, tolerance):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def icon_picture(path, size=16):
    """The size × size picture of an icon file: rows of (r, g, b, a)."""
    with open(path, "rb") as f:
        data = f.read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    assert kind == 1, "not an icon file"
    for i in range(count):
        width, height, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if (width or 256) != size or (height or 256) != size:
            continue
        header_size, _, _, _, bit_count = struct.unpack_from("<IiiHH", data, offset)
        assert bit_count == 32, "the %d × %d picture is not 32-bit" % (size, size)
        start = offset + header_size
        rows = []
        for y in range(size):  # stored bottom-up
            row = data[start + (size - 1 - y) * size * 4:start + (size - y) * size * 4]
            rows.append([(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3])
                         for x in range(size)])
        return rows
    raise AssertionError("no %d × %d picture in %s" % (size, size, path))


def blend(colour, alpha, background):
    return tuple((c * alpha + b * (255 - alpha) + 127) // 255 for c, b in zip(colour, background))


def composed(picture, background):
    """The picture drawn with its alpha over a plain background: for each
    pixel the colours it may show. Wine's tray draws an icon twice over
    itself, which deepens the half-transparent edge; both count."""
    rows = []
    for row in picture:
        out = []
        for (r, g, b, a) in row:
            once = blend((r, g, b), a, background)
            out.append((once, blend((r, g, b), a, once)))
        rows.append(out)
    return rows


def best_match(shot, box, picture, tolerance=24):
    """Where in `box` the screenshot shows `picture` over the background at
    the box's corner: (matching pixels, x, y) of the best place."""
    x0, y0, w, h = box
    size = len(picture)
    expected = composed(picture, shot.pixel(x0, y0))
    best = (0, None, None)
    for oy in range(y0, y0 + h - size + 1):
        for ox in range(x0, x0 + w - size + 1):
            n = sum(1 for y in range(size) for x in range(size)
                    if any(close(shot.pixel(ox + x, oy + y), colour, tolerance)
                           for colour in expected[y][x]))
            if n > best[0]:
                best = (n, ox, oy)
    return best


def ocr(shot, box, name, psm=7):
    """The text tesseract reads in `box` of the screenshot (one line; with
    psm 6 a block of lines)."""
    x, y, w, h = box
    crop = os.path.join(SHOTS, name + "-ocr.png")
    subprocess.run([CONVERT, shot.path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                    "-colorspace", "Gray", "-resize", "300%", crop], check=True)
    return subprocess.run(["tesseract", crop, "-", "--psm", str(psm)], capture_output=True,
                          text=True).stdout.strip()


# ---- The X server and the tray host ------------------------------------------------

class Display(harness.XServer):
    def __init__(self):
        super().__init__(SCREEN)

    def screenshot(self, name):
        path = os.path.join(SHOTS, name + ".png")
        self.run(IMPORT, "-window", "root", "-depth", "8", path)
        return Image(path)

    def click(self, x, y, button, repeat=1):
        self.run("xdotool", "mousemove", str(x), str(y), "click", "--repeat", str(repeat),
                 "--delay", "80", str(button))


def visible_windows(display, *criteria):
    ids = display.run("xdotool", "search", "--onlyvisible", *criteria, check=False).split()
    return [harness.XWindow(display, wid) for wid in ids]


class TrayHost:
    """`trayer` at the top left edge: a menu opened at an icon has room to
    open to the right and below, with its left edge at the pointer."""

    def __init__(self, display):
        self.display = display
        x, y, w, h = TRAY
        self.proc = subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel", "--width",
             str(w), "--heighttype", "pixel", "--height", str(h), "--SetDockType", "false"],
            env=display.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        wait_for(lambda: display.run("xdotool", "search", "--onlyvisible", "--pid",
                                     str(self.proc.pid), check=False).strip())

    def icons(self):
        """The icons docked in the tray: Wine's icon windows inside it."""
        x0, y0, w, h = TRAY
        return [win for win in visible_windows(self.display, "--classname", "^explorer\\.exe$")
                if x0 <= win.x < x0 + w and y0 <= win.y < y0 + h and 8 <= win.width <= 32]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


# ---- Wine ---------------------------------------------------------------------------

class WineSession:
    """The prefix, locked; a wineserver started in this namespace; and the
    shell's desktop process on the test's display, started by the helper
    with the systray trace going to a file."""

    def __init__(self, display, workdir):
        os.makedirs(PREFIX, exist_ok=True)
        self.lock = open(os.path.join(PREFIX, ".tray-test.lock"), "w")
        fcntl.flock(self.lock, fcntl.LOCK_EX)
        # A wineserver of this prefix elsewhere would be found through here.
        server_dir = "/tmp/.wine-%d" % os.getuid()
        os.makedirs(server_dir, mode=0o700, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0700", "tmpfs", server_dir],
                       check=True)
        self.env = dict(display.env, WINEPREFIX=PREFIX, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        subprocess.run([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        self.trace_path = os.path.join(workdir, "shell-trace.log")
        ready_path = os.path.join(workdir, "shell-ready")
        # The shell's processes keep this output: files, never a pipe. The
        # helper stays for the session, so that the shell does too.
        with open(self.trace_path, "wb") as trace, open(ready_path, "wb") as ready:
            self.keeper = subprocess.Popen([WINE, HELPER, "start-shell"],
                                           env=dict(self.env, WINEDEBUG="trace+systray"),
                                           stdin=subprocess.DEVNULL, stdout=ready, stderr=trace)

        def is_ready():
            with open(ready_path, "rb") as f:
                return b"shell ready" in f.read() or self.keeper.poll() is not None
        if not wait_for(is_ready, 300.0, 0.2) or self.keeper.poll() is not None:
            raise RuntimeError("Wine's shell did not start")

    def helper(self, *args, env=None):
        """Runs the helper; answers (exit code, output)."""
        with tempfile.TemporaryFile() as out:
            code = subprocess.run([WINE, HELPER, *args], env=env or self.env,
                                  stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.DEVNULL, timeout=60).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", "replace").strip()

    def trace_tail(self, size=2000):
        with open(self.trace_path, "rb") as f:
            f.seek(max(0, os.path.getsize(self.trace_path) - size))
            return f.read().decode("utf-8", "replace")

    def trace_size(self):
        return os.path.getsize(self.trace_path)

    def icons_added(self, since):
        """(window, identity) of every icon the shell added after `since`."""
        with open(self.trace_path, "rb") as f:
            f.seek(since)
            text = f.read().decode("utf-8", "replace")
        # Whole lines only: the shell may be writing the last one.
        return [(int(hwnd, 16), int(ident, 16)) for ident, hwnd in
                re.findall(r"add_icon id=0x([0-9a-fA-F]+), hwnd=(?:0x)?([0-9a-fA-F]+)\n", text)]

    def stop(self):
        self.keeper.kill()
        self.keeper.wait()
        subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.lock.close()


def locale_env(base, locale, locpath):
    """`base` with the locale variables replaced by `locale`."""
    env = dict(base)
    for var in ("LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"):
        env.pop(var, None)
    env.update(locale)
    env["LOCPATH"] = locpath
    return env


class Relay(harness.Program):
    """Ostrivane.exe under Wine; `icon` is its docked icon, `shell_id` the
    (window, identity) the shell knows it by."""

    def __init__(self, display, env):
        self.display = display
        self.icon = None
        self.shell_id = None
        super().__init__([WINE, OSTRIVANE], env)

    def windows(self):
        """The program's own visible X windows (it shows none but its menu)."""
        return [w for w in visible_windows(self.display, "--pid", str(self.pid))
                if w.width > 4 and w.height > 4]


# ---- The tests ----------------------------------------------------------------------

class WineTrayTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.locales = os.path.join(cls.work.name, "locales")
        os.makedirs(cls.locales)
        # Wine takes the user's interface language from the locale, and only
        # from one that is compiled.
        for name in ("de_DE", "de_AT", "fr_FR"):
            subprocess.run(["localedef", "-i", name, "-f", "UTF-8",
                            os.path.join(cls.locales, name + ".UTF-8")],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.display = Display()
        cls.host = TrayHost(cls.display)
        cls.wine = WineSession(cls.display, cls.work.name)
        cls.picture = icon_picture(ICON, 16)

    @classmethod
    def tearDownClass(cls):
        cls.wine.stop()
        cls.host.stop()
        cls.display.stop()
        cls.work.cleanup()

    def setUp(self):
        self.relay = None

    def tearDown(self):
        if self.relay is not None:
            self.stop_relay(self.relay)

    # -- helpers

    def start(self, locale=GERMAN):
        """Starts the program; answers it with its icon's window and
        identity, as the shell got them, and the docked icon."""
        since = self.wine.trace_size()
        relay = Relay(self.display, locale_env(self.wine.env, locale, self.locales))
        self.relay = relay
        added = wait_for(lambda: self.wine.icons_added(since), 30.0)
        self.assertTrue(added, "the shell got no icon (program %s)\n%s\nshell: %s" % (
            "running" if relay.alive() else "ended with %s" % relay.returncode,
            relay.error_output(), self.wine.trace_tail()))
        relay.shell_id = added[0]
        relay.icon = self.docked_icon()
        self.assertIsNotNone(relay.icon, "no icon docked in the tray")
        # The icon is there before FormCreate has run, and a click then is
        # handled while the program still talks to the shell: the menu would
        # open before the language was chosen. The program is up once its
        # receiver is bound; the language comes right after.
        self.assertTrue(relay.wait_bound(timeout=30.0), "the receiver did not start")
        time.sleep(0.5)
        return relay

    def stop_relay(self, relay):
        """Ends the program the way a task manager asks it to; one that is
        still running after that is killed."""
        if relay.alive():
            for menu in relay.windows():
                self.menu_key(menu, "Escape")
            try:
                relay.stop(ask=lambda r: self.wine.helper("close-application"))
            except subprocess.TimeoutExpired:
                pass
        relay.close()
        self.relay = None
        wait_for(lambda: not self.host.icons(), 5.0)

    def menu_key(self, menu, key):
        """Types `key` into the open menu. On Windows the menu has the
        keyboard because the program made itself the foreground one; a
        hidden window cannot take the X keyboard focus, so the test gives it
        to the menu's window."""
        self.display.run("xdotool", "windowfocus", "--sync", menu.id, check=False)
        self.display.run("xdotool", "key", key)

    def docked_icon(self, timeout=10.0):
        icons = wait_for(self.host.icons, timeout)
        return icons[0] if icons else None

    def menu_of(self, relay, timeout=5.0):
        found = wait_for(relay.windows, timeout)
        return found[0] if found else None

    def open_menu(self, relay):
        """Presses the right button on the icon: the menu is open before the
        button is released."""
        x, y = relay.icon.centre
        self.display.run("xdotool", "mousemove", str(x), str(y), "mousedown", "3")
        menu = self.menu_of(relay)
        self.display.run("xdotool", "mouseup", "3")
        return menu

    def assertIconShown(self, shot, icon):
        matching, x, y = best_match(shot, icon.box, self.picture)
        self.assertGreaterEqual(matching, 16 * 16 - 8,
                                "the program's picture is not in the tray (%d of 256 pixels at "
                                "%s,%s)" % (matching, x, y))

    def assertIconGone(self, shot):
        matching, _, _ = best_match(shot, TRAY, self.picture)
        self.assertLess(matching, 128, "the program's picture is still in the tray")

    def assertHint(self, lines):
        """The hint: the program's name, then where it listens."""
        self.assertEqual(len(lines), 2, lines)
        self.assertEqual(lines[0], HINT)
        self.assertRegex(lines[1], LISTENING_DE)

    def read_hint(self, relay, name):
        """The hint's lines as tesseract reads them."""
        x, y = relay.icon.centre
        self.display.run("xdotool", "mousemove", str(x), str(y))
        tip = wait_for(lambda: [w for w in visible_windows(self.display, "--classname",
                                                           "^explorer\\.exe$")
                                if w.y > TRAY[3] - 4 and w.width > 40], 5.0)
        self.assertTrue(tip, "no hint appeared")
        time.sleep(0.3)
        shot = self.display.screenshot(name)
        return [line for line in ocr(shot, tip[0].box, name, psm=6).splitlines() if line.strip()]

    def read_menu(self, menu, name):
        # A highlighted entry reads badly: the pointer goes off the menu.
        self.display.run("xdotool", "mousemove", "400", "400")
        time.sleep(0.3)
        shot = self.display.screenshot(name)
        x, y, w, h = menu.box
        return ocr(shot, (x + 3, y + 3, w - 6, h - 6), name)

    # -- tests

    def test_icon_hint_menu_and_exit(self):
        relay = self.start(GERMAN)
        window, ident = relay.shell_id
        code, cls = self.wine.helper("class", "%x" % window)
        self.assertEqual((code, cls), (0, "TNotificationWindow"),
                         "the icon is not the notification window's: %x" % window)
        time.sleep(0.3)
        self.assertIconShown(self.display.screenshot("tray-icon"), relay.icon)
        self.assertHint(self.read_hint(relay, "tray-hint"))

        menu = self.open_menu(relay)
        self.assertIsNotNone(menu, "the right button opened no menu")
        time.sleep(0.3)
        self.assertIsNotNone(self.menu_of(relay, 0.1), "releasing the button closed the menu")
        x, y = relay.icon.centre
        self.assertEqual((menu.x, menu.y), (x, y), "the menu's corner is not at the pointer")
        self.assertEqual(self.read_menu(menu, "tray-menu-de"), "Beenden")

        # Choosing the entry ends the program and takes the icon away.
        self.display.click(*menu.centre, 1)
        self.assertTrue(wait_for(lambda: not relay.alive(), 15.0), "the program runs on")
        self.assertEqual(relay.returncode, 0, relay.error_output())
        self.assertTrue(wait_for(lambda: not self.host.icons(), 5.0), "the icon stayed")
        self.assertIconGone(self.display.screenshot("tray-after-exit"))
        code, out = self.wine.helper("delete", "%x" % window, "%x" % ident)
        self.assertEqual(code, 1, "the shell still knew the icon: " + out)

    def test_other_clicks_open_nothing_and_a_dismissed_menu_runs_nothing(self):
        relay = self.start(GERMAN)
        x, y = relay.icon.centre
        for button, repeat in ((1, 1), (1, 2), (2, 1)):
            self.display.click(x, y, button, repeat)
            time.sleep(0.7)
            self.assertEqual(relay.windows(), [],
                             "button %d x%d opened a window" % (button, repeat))
            self.assertTrue(relay.alive())
        # A click outside the menu runs nothing. (It does not close the menu
        # under Wine: Wine takes the pointer for a menu through the X window
        # of the menu's owner, and the owner is hidden. On Windows the click
        # closes it.)
        menu = self.open_menu(relay)
        self.assertIsNotNone(menu)
        self.display.click(400, 300, 1)
        time.sleep(0.5)
        self.assertTrue(relay.alive(), "a click outside the menu ran its entry")
        self.menu_key(menu, "Escape")
        self.assertTrue(wait_for(lambda: not relay.windows(), 5.0), "the menu stayed open")
        time.sleep(0.5)
        self.assertTrue(relay.alive(), "closing the menu ran its entry")
        # The menu opens again, and its entry still works.
        menu = self.open_menu(relay)
        self.assertIsNotNone(menu, "the menu did not open a second time")
        self.display.click(*menu.centre, 1)
        self.assertTrue(wait_for(lambda: not relay.alive(), 15.0))
        self.assertEqual(relay.returncode, 0)

    def test_a_close_request_while_the_menu_is_open_ends_the_program(self):
        # As the installer or a task manager asks the program to end: the
        # open menu closes rather than hold the request up.
        relay = self.start(GERMAN)
        self.assertIsNotNone(self.open_menu(relay), "the right button opened no menu")
        code, out = self.wine.helper("close-application")
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_for(lambda: not relay.alive(), 5.0),
                        "the program runs on while its menu is open")
        self.assertEqual(relay.returncode, 0, relay.error_output())
        self.assertTrue(wait_for(lambda: not self.host.icons(), 5.0), "the icon stayed")

    def test_taskbar_created_brings_a_removed_icon_back(self):
        relay = self.start(GERMAN)
        window, ident = relay.shell_id
        code, out = self.wine.helper("delete", "%x" % window, "%x" % ident)
        self.assertEqual(code, 0, "%s (%x, %x)\n%s" % (out, window, ident,
                                                       self.wine.trace_tail(4000)))
        self.assertTrue(wait_for(lambda: not self.host.icons(), 5.0), "the icon stayed")
        time.sleep(0.3)
        self.assertIconGone(self.display.screenshot("tray-removed"))
        self.assertTrue(relay.alive())

        since = self.wine.trace_size()
        code, out = self.wine.helper("broadcast")
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_for(lambda: self.wine.icons_added(since), 10.0),
                        "the program did not add its icon again")
        self.assertEqual(self.wine.icons_added(since)[0], (window, ident),
                         "added again under another identity")
        relay.icon = self.docked_icon()
        self.assertIsNotNone(relay.icon, "the icon did not come back")
        time.sleep(0.3)
        self.assertIconShown(self.display.screenshot("tray-back"), relay.icon)
        self.assertHint(self.read_hint(relay, "tray-back-hint"))
        menu = self.open_menu(relay)
        self.assertIsNotNone(menu, "the menu no longer opens")
        self.display.click(*menu.centre, 1)
        self.assertTrue(wait_for(lambda: not relay.alive(), 15.0))
        self.assertEqual(relay.returncode, 0)

    def test_icon_lost_by_the_shell_comes_back_and_stays(self):
        # A shell that restarts has simply lost the icon: the program is not
        # asked. Wine's desktop drops a window's icons when it hears that the
        # window was destroyed; that is said here of the icon's window.
        relay = self.start(GERMAN)
        window, ident = relay.shell_id
        code, out = self.wine.helper("owner-gone", "%x" % window)
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_for(lambda: not self.host.icons(), 5.0), "the shell kept the icon")
        self.assertTrue(relay.alive())

        since = self.wine.trace_size()
        code, out = self.wine.helper("broadcast")
        self.assertEqual(code, 0, out)
        self.assertTrue(wait_for(lambda: self.wine.icons_added(since), 10.0),
                        "the program did not add its icon again")
        relay.icon = self.docked_icon()
        self.assertIsNotNone(relay.icon, "the icon did not come back")
        # Back is not enough: it must stay.
        time.sleep(3.0)
        self.assertEqual(len(self.host.icons()), 1,
                         "the icon left again\nshell: %s" % self.wine.trace_tail(6000))
        self.assertIconShown(self.display.screenshot("tray-back-to-stay"), relay.icon)
        menu = self.open_menu(relay)
        self.assertIsNotNone(menu, "the menu no longer opens")
        self.display.click(*menu.centre, 1)
        self.assertTrue(wait_for(lambda: not relay.alive(), 15.0))
        self.assertEqual(relay.returncode, 0)

    def test_menu_caption_follows_the_interface_language(self):
        cases = [
            ("de_DE", {"LANG": "de_DE.UTF-8"}, 0x0407, "Beenden"),
            ("de_AT", {"LANG": "de_AT.UTF-8"}, 0x0C07, "Beenden"),
            ("en_US", {"LANG": "en_US.UTF-8"}, 0x0409, "Exit"),
            ("fr_FR", {"LANG": "fr_FR.UTF-8"}, 0x040C, "Exit"),
            ("fr_over_de", {"LC_ALL": "fr_FR.UTF-8", "LANG": "de_DE.UTF-8"}, 0x040C, "Exit"),
        ]
        for name, locale, language, caption in cases:
            with self.subTest(locale=name):
                env = locale_env(self.wine.env, locale, self.locales)
                code, out = self.wine.helper("ui-language", env=env)
                self.assertEqual(out, "0x%04X" % language, "Wine's interface language")
                relay = self.start(locale)
                try:
                    menu = self.open_menu(relay)
                    self.assertIsNotNone(menu)
                    self.assertEqual(self.read_menu(menu, "tray-menu-" + name), caption)
                    # B is the German entry's access key; the English one has none.
                    self.menu_key(menu, "b")
                    german = caption == "Beenden"
                    ended = wait_for(lambda: not relay.alive(), 10.0 if german else 1.0)
                    self.assertEqual(bool(ended), german)
                    if german:
                        self.assertEqual(relay.returncode, 0)
                finally:
                    self.stop_relay(relay)


def main():
    global OSTRIVANE, HELPER, ICON, PREFIX, SHOTS
    (OSTRIVANE, HELPER, ICON, PREFIX, SHOTS), argv = harness.test_arguments(
        "--ostrivane", "--helper", "--icon", "--prefix", "--shots")
    harness.require("tray_win32_test",
                    tools=("Xvfb", "trayer", "xdotool", "xprop", "unshare", "tesseract",
                           "localedef"),
                    files=(CONVERT, IMPORT, WINE, WINESERVER))
    # A process namespace too: whatever Wine leaves running ends with the test.
    harness.enter_own_namespace("OSTRIVANE_WINTRAY_NETNS", unshare=wine.NAMESPACE)
    harness.make_veth_pair()
    shutil.rmtree(SHOTS, ignore_errors=True)
    os.makedirs(SHOTS)
    return harness.run_tests(argv)


if __name__ == "__main__":
    sys.exit(main())
