#!/usr/bin/env python3
"""The Debian package: its control fields and dependencies, its contents,
its desktop entries, icons and manual pages, its firewalld service and ufw
application profile, what lintian says of it, and
its life in a scratch root: installed with dpkg, the relay started the way
the autostart entry starts it and relaying a command between the installed
tools, removed, purged, and nothing of it left.

The test runs in a network namespace of its own (`unshare --net
--map-root-user`, a veth pair inside), so no datagram reaches the machine's
own interfaces; dpkg works on a root folder of the test's own (--root), never
on this machine's system.

Usage: deb_test.py --deb ostrivane_VERSION_ARCH.deb [--no-lintian] [unittest options]
"""
import argparse
import configparser
import glob
import os
import shlex
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree
import zlib

import ostrivane_harness as harness
from ostrivane_harness import PEER_ADDR

DEB = None
RUN_LINTIAN = True

PROGRAMS = ("ostrivane", "lvx-send", "lvx-slot-monitor")
ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
AUTOSTART = "etc/xdg/autostart/ostrivane.desktop"
MENU_ENTRY = "usr/share/applications/ostrivane.desktop"
FIREWALLD_SERVICE = "usr/lib/firewalld/services/ostrivane.xml"
UFW_PROFILE = "etc/ufw/applications.d/ostrivane"
# Every file of the package, with its mode.
FILES = {
    **{"usr/bin/%s" % p: 0o755 for p in PROGRAMS},
    AUTOSTART: 0o644,
    MENU_ENTRY: 0o644,
    FIREWALLD_SERVICE: 0o644,
    UFW_PROFILE: 0o644,
    **{"usr/share/icons/hicolor/%dx%d/apps/ostrivane.png" % (s, s): 0o644 for s in ICON_SIZES},
    **{"usr/share/man/man1/%s.1.gz" % p: 0o644 for p in PROGRAMS},
    "usr/share/doc/ostrivane/changelog.gz": 0o644,
    "usr/share/doc/ostrivane/copyright": 0o644,
    "usr/share/lintian/overrides/ostrivane": 0o644,
}
# The colour of the icon's tile (app/tray_image.h).
ICON_TILE = (0x0E, 0x6B, 0x78, 0xFF)


def run(*cmd, check=True, env=None):
    """Runs a command to its end; answers its standard output."""
    done = subprocess.run(cmd, capture_output=True, text=True, env=env)
    if check and done.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (shlex.join(cmd), done.returncode,
                                                        done.stdout, done.stderr))
    return done.stdout


def field(name):
    return run("dpkg-deb", "-f", DEB, name).strip()


def installed_version(package):
    """The version of `package` installed on this machine, or None."""
    done = subprocess.run(["dpkg-query", "-W", "-f", "${Status} ${Version}", package],
                          capture_output=True, text=True)
    words = done.stdout.split()
    if done.returncode != 0 or words[:3] != ["install", "ok", "installed"]:
        return None
    return words[3]


def satisfied(relation):
    """Whether this machine has `relation` ("pkg (>= 1.0)", alternatives
    with "|") installed."""
    for alternative in relation.split("|"):
        name, _, version = alternative.strip().partition(" ")
        name = name.split(":")[0]
        have = installed_version(name)
        if have is None:
            continue
        if not version:
            return True
        op, wanted = version.strip("()").split()
        if subprocess.run(["dpkg", "--compare-versions", have, op, wanted]).returncode == 0:
            return True
    return False


def read_png(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA PNG file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s is not a PNG file" % path)
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 6, 0):
        raise ValueError("%s: not 8-bit RGBA without interlace" % path)
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append([tuple(line[x:x + 4]) for x in range(0, stride, 4)])
        previous = line
    return width, height, rows


def desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str
    with open(path, encoding="utf-8") as f:
        parser.read_file(f)
    return parser["Desktop Entry"]


class PackageTest(unittest.TestCase):
    def test_control_fields_and_dependencies(self):
        self.assertEqual(field("Package"), "ostrivane")
        self.assertEqual(field("Architecture"), run("dpkg", "--print-architecture").strip())
        self.assertRegex(field("Version"), r"^\d+\.\d+\.\d+$")
        self.assertRegex(field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        self.assertEqual(field("Section"), "net")
        description = field("Description").splitlines()
        self.assertGreater(len(description), 2, "no long description")
        # Computed from the programs: the C and C++ runtimes and Qt's widgets.
        relations = [r.strip() for r in field("Depends").split(",")]
        names = {r.split()[0] for r in relations}
        for needed in ("libc6", "libstdc++6", "libqt6widgets6", "libqt6gui6", "libqt6core6"):
            self.assertIn(needed, names)
        # Nothing this machine lacks: the package installs here as it is.
        self.assertEqual([r for r in relations if not satisfied(r)], [])
        conffiles = run("dpkg-deb", "-I", DEB, "conffiles").split()
        self.assertEqual(sorted(conffiles), sorted(["/" + AUTOSTART, "/" + UFW_PROFILE]))

    def test_contents_are_the_programs_and_their_files_only(self):
        listing = run("dpkg-deb", "-c", DEB).splitlines()
        files, dirs = {}, set()
        for line in listing:
            mode, owner, _, _, _, path = line.split(None, 5)
            self.assertEqual(owner, "root/root", line)
            path = path[2:] if path.startswith("./") else path
            if path in ("", "/"):
                continue  # the root folder itself, as dpkg-deb lists it
            if mode.startswith("d"):
                self.assertEqual(mode, "drwxr-xr-x", line)
                dirs.add(path.rstrip("/"))
            else:
                self.assertEqual(mode[0], "-", line)
                files[path] = sum(0o400 >> i for i, c in enumerate(mode[1:]) if c != "-")
        self.assertEqual(files, FILES)
        # Every folder holds something of the package.
        for d in dirs:
            self.assertTrue(any(f.startswith(d + "/") for f in files), d)

    def test_desktop_entries_icons_and_manual_pages(self):
        with tempfile.TemporaryDirectory() as root:
            run("dpkg-deb", "-x", DEB, root)
            menu = desktop_entry(os.path.join(root, MENU_ENTRY))
            autostart = desktop_entry(os.path.join(root, AUTOSTART))
            for entry in (menu, autostart):
                self.assertEqual(entry["Type"], "Application")
                self.assertEqual(entry["Name"], "Ostrivane")
                self.assertEqual(entry["Exec"], "ostrivane")
                self.assertEqual(entry["Icon"], "ostrivane")
                self.assertEqual(entry["Terminal"], "false")
                # It shows no window: no busy pointer waiting for one.
                self.assertEqual(entry["StartupNotify"], "false")
                self.assertNotIn("Hidden", entry)
            self.assertIn("Network", menu["Categories"].split(";"))

            for size in ICON_SIZES:
                path = os.path.join(root, "usr/share/icons/hicolor/%dx%d/apps/ostrivane.png"
                                    % (size, size))
                width, height, rows = read_png(path)
                self.assertEqual((width, height), (size, size))
                pixels = [p for row in rows for p in row]
                # A rounded tile: clear corners, the tile's colour inside.
                self.assertEqual(rows[0][0][3], 0, "corner of %d" % size)
                self.assertIn(ICON_TILE, pixels, "tile colour in %d" % size)

            env = dict(os.environ, LC_ALL="C.UTF-8", MANROFFSEQ="", MANWIDTH="80")
            for program in PROGRAMS:
                page = os.path.join(root, "usr/share/man/man1/%s.1.gz" % program)
                done = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                                       page], capture_output=True, text=True, env=env)
                self.assertEqual((done.returncode, done.stderr), (0, ""), page)
                text = run("man", "-l", page, env=env)
                self.assertIn("NAME", text)
                self.assertIn(program, text)

    def test_firewalld_service_and_ufw_profile(self):
        """`firewall-cmd --add-service=ostrivane` and `ufw allow Ostrivane`
        open UDP port 19151 and nothing else. firewalld is not installed
        here, so its service file is read as firewalld reads it (an XML
        document of its service schema); ufw's profile as ufw reads it (its
        configparser, the fields it requires, its port syntax)."""
        with tempfile.TemporaryDirectory() as root:
            run("dpkg-deb", "-x", DEB, root)
            service = ElementTree.parse(os.path.join(root, FIREWALLD_SERVICE)).getroot()
            self.assertEqual(service.tag, "service")
            self.assertEqual(service.attrib, {})
            self.assertEqual([child.tag for child in service], ["short", "description", "port"])
            self.assertEqual(service.findtext("short"), "Ostrivane")
            self.assertIn("19151", service.findtext("description"))
            self.assertEqual(service.find("port").attrib, {"protocol": "udp", "port": "19151"})

            profile = configparser.RawConfigParser()
            with open(os.path.join(root, UFW_PROFILE), encoding="utf-8") as f:
                profile.read_file(f)
            self.assertEqual(profile.sections(), ["Ostrivane"])
            self.assertEqual(sorted(profile["Ostrivane"]), ["description", "ports", "title"])
            for field_name in ("title", "description"):
                self.assertTrue(profile["Ostrivane"][field_name].strip(), field_name)
            # ufw's syntax: ports separated by "|", each "PORT[,PORT...]/PROTO"
            # or a range "A:B/PROTO".
            self.assertEqual(profile["Ostrivane"]["ports"], "19151/udp")
            for item in profile["Ostrivane"]["ports"].split("|"):
                self.assertRegex(item, r"^\d+([,:]\d+)*/(tcp|udp)$")

    def test_lintian_finds_nothing_unexplained(self):
        if not RUN_LINTIAN:
            self.skipTest("lintian left out (--no-lintian)")
        # Every tag, down to the pedantic ones, fails the test unless the
        # package's overrides explain it.
        done = subprocess.run(["lintian", "--pedantic", "--display-info",
                               "--display-experimental", "--fail-on",
                               "error,warning,info,pedantic,experimental", DEB],
                              capture_output=True, text=True)
        tags = [line for line in done.stdout.splitlines() if line[:2] in
                ("E:", "W:", "I:", "P:", "X:")]
        self.assertEqual((done.returncode, tags), (0, []), done.stdout + done.stderr)

    def test_install_run_as_autostarted_remove_and_purge_in_a_scratch_root(self):
        with tempfile.TemporaryDirectory(prefix="ostrivane-root-") as root:
            admin = os.path.join(root, "var", "lib", "dpkg")
            for sub in ("info", "updates", "triggers"):
                os.makedirs(os.path.join(admin, sub))
            open(os.path.join(admin, "status"), "w").close()
            before = tree(root)

            def dpkg(*args):
                # The scratch root's database knows none of this machine's
                # packages: the dependencies are checked against the machine
                # by test_control_fields_and_dependencies.
                # dpkg wants ldconfig and start-stop-daemon on the PATH, which
                # a user's PATH may lack.
                env = dict(os.environ, PATH=os.environ["PATH"] + ":/usr/sbin:/sbin")
                return run("dpkg", "--root=" + root, "--force-depends", "--force-not-root",
                           "--log=/dev/null", *args, env=env)

            dpkg("-i", DEB)
            self.assertIn("\nStatus: install ok installed\n",
                          run("dpkg", "--root=" + root, "-s", "ostrivane"))
            for path, mode in FILES.items():
                st = os.stat(os.path.join(root, path))
                self.assertEqual(stat.S_IMODE(st.st_mode), mode, path)
            bindir = os.path.join(root, "usr", "bin")

            self.round_trip(root, bindir)

            # Removed, the autostart entry and the ufw profile stay as
            # configuration files (an administrator's change to them
            # survives); purged, they go too.
            dpkg("-r", "ostrivane")
            left = sorted(tree(root) - before)
            self.assertEqual([p for p in left if not p.startswith("var/lib/dpkg/")],
                             ["etc", "etc/ufw", "etc/ufw/applications.d", UFW_PROFILE,
                              "etc/xdg", "etc/xdg/autostart", AUTOSTART])
            dpkg("-P", "ostrivane")
            left = sorted(p for p in tree(root) - before
                          if not p.startswith("var/lib/dpkg/"))
            self.assertEqual(left, [])
            self.assertEqual(glob.glob(os.path.join(admin, "info", "ostrivane*")), [])
            done = subprocess.run(["dpkg", "--root=" + root, "-s", "ostrivane"],
                                  capture_output=True, text=True)
            self.assertNotEqual(done.returncode, 0, "dpkg still knows the package")

    def round_trip(self, root, bindir):
        """The installed relay, started with the autostart entry's command as
        a desktop session does (offscreen: no display), relays one command
        from the installed lvx-send to the installed lvx-slot-monitor, and
        ends cleanly on SIGTERM."""
        command = shlex.split(desktop_entry(os.path.join(root, AUTOSTART))["Exec"])
        with tempfile.TemporaryDirectory() as runtime:
            env = harness.relay_env(runtime)
            env["PATH"] = bindir + os.pathsep + "/usr/bin:/bin"
            self.assertEqual(shutil.which(command[0], path=env["PATH"]),
                             os.path.join(bindir, command[0]))
            for program in ("lvx-send", "lvx-slot-monitor"):
                self.assertIn("Usage: " + program, run(program, "--help", env=env))
            with harness.ProgramReader(["lvx-slot-monitor", "--hex", "--count", "1"],
                                       env) as monitor:
                self.assertTrue(monitor.program.wait_ready(
                    lambda: "listening at" in monitor.program.error_output()),
                    monitor.program.error_output())
                relay = harness.Program(command, env)
                try:
                    self.assertTrue(relay.wait_bound(), relay.error_output())
                    run("lvx-send", "--interface", PEER_ADDR, "--action", "Next", "--param1", "1",
                        "--param2", "Grüße", env=env)
                    expected = ('<?xml version="1.0" encoding="windows-1252"?>\n'
                                '<LyravoxIPC><Remote><Next Param1="1" Param2="Grüße"/>'
                                '</Remote></LyravoxIPC>\n').encode("cp1252")
                    self.assertEqual(monitor.receive_all(1, 10.0), [expected])
                finally:
                    code = relay.stop()
                    errors = relay.error_output()
                    relay.close()
                self.assertEqual(code, 0, errors)


def tree(root):
    """The files and folders below `root`, as relative paths."""
    found = set()
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        found.update(os.path.normpath(os.path.join(rel, n)) for n in dirs + files)
    return found


def main():
    global DEB, RUN_LINTIAN
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--no-lintian", action="store_true")
    args, rest = parser.parse_known_args()
    DEB = os.path.abspath(args.deb)
    RUN_LINTIAN = not args.no_lintian
    harness.enter_own_namespace("OSTRIVANE_DEB_TEST_NS")
    harness.make_veth_pair()
    return harness.run_tests([sys.argv[0]] + rest)


if __name__ == "__main__":
    sys.exit(main())
