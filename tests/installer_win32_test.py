#!/usr/bin/env python3
"""The Windows installer and the portable ZIP, tried under Wine the way a
user meets them: a silent installation, the programs, shortcuts, log-on
entry and uninstall entry it leaves, the program started the way the log-on
entry starts it and relaying one command between the installed tools, an
update over the running program that also takes the firewall step
(/FIREWALL), and a silent uninstallation while it runs, which removes the
firewall rule again, after which nothing of it is left.

Wine's firewall objects keep no rules, so the firewall step is seen in
Wine's own log instead: the processes started (with their command lines)
and the calls that the firewall tool made on the firewall's objects.

Everything runs in namespaces of the test's own (network, mount, process),
with an Xvfb, a Wine prefix, a wineserver and a home folder of its own; the
test is the first process of its process namespace, so the Unix processes of
Windows programs that another Windows program started (the installer starts
the program) are handed to it, and it reads their exit status.

Usage: installer_win32_test.py --installer SETUP.EXE --zip PORTABLE.ZIP
                               --window-probe window_probe.exe [unittest options]
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

import ostrivane_harness as harness
import ostrivane_wine as wine
from ostrivane_wine import MAIN_FORM, TITLE
from ostrivane_harness import PEER_ADDR, PORT

INSTALLER = ZIP = None
# Set up by main().
PREFIX = PROBE = None

PROGRAMS = ("Ostrivane.exe", "lvx-send.exe", "lvx-slot-monitor.exe", "lvx-firewall.exe")
UNINSTALLER = "Uninstall.exe"
MENU_ENTRIES = {"Ostrivane.lnk": "Ostrivane.exe", "Uninstall Ostrivane.lnk": UNINSTALLER}
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrivane"
# Where the Task Manager records that the user switched a log-on entry off.
APPROVED_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run"

# How long a silent installation or uninstallation may take, and how long the
# uninstaller's copy in the temporary folder may take to remove itself.
SETUP_TIME = 60.0
CLEANUP_TIME = 20.0

# Wine's log channels that show the firewall step: the command line of each
# process started, and the calls on the firewall's objects (Wine's are stubs
# that log their arguments).
FIREWALL_TRACE = "trace+process,fixme+hnetcfg"


# ---- The Wine prefix seen from outside ---------------------------------------

def unix_path(windows_path):
    """The file of the prefix's drive C that `windows_path` (C:\\...) names."""
    drive, _, rest = windows_path.partition(":")
    if drive.upper() != "C":
        raise ValueError("not on drive C: %r" % windows_path)
    return os.path.join(PREFIX.path, "drive_c", *[p for p in rest.split("\\") if p])


def reg_values(key):
    """{name: (type, data)} of the registry key `key`, or None when there is
    no such key (as `reg query` prints them)."""
    status, out = PREFIX.run("reg", "query", key)
    if status != 0:
        return None
    values = {}
    for line in out.splitlines():
        m = re.match(r"^ {4}(.*?) {4}(REG_\w+) {4}(.*)$", line)
        if m:
            values[m.group(1)] = (m.group(2), m.group(3))
    return values


def reg_value(key, name):
    values = reg_values(key) or {}
    return values.get(name, (None, None))[1]


def split_command(command):
    """A command line's program (quoted or not) and the rest."""
    if command.startswith('"'):
        program, _, rest = command[1:].partition('"')
    else:
        program, _, rest = command.partition(" ")
    return program, rest.split()


def pe_contents(data):
    """A program file without the two fields that stripping it writes anew:
    the time stamp of its file header and the checksum of its optional
    header (the installer and the ZIP each strip their own copy)."""
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a program file")
    stamp, checksum = pe + 8, pe + 24 + 64
    data = bytearray(data)
    data[stamp:stamp + 4] = bytes(4)
    data[checksum:checksum + 4] = bytes(4)
    return bytes(data)


def tree(root):
    """The files and folders below `root`, as relative paths."""
    found = set()
    for folder, dirs, files in os.walk(root):
        rel = os.path.relpath(folder, root)
        found.update(os.path.normpath(os.path.join(rel, n)) for n in dirs + files)
    return found


# ---- Processes -------------------------------------------------------------------

def processes_running(image):
    """Unix process ids of the live processes that run the Windows program
    `image` (a path as Wine shows it in the command line)."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if any(a.decode("utf-8", "replace").lower() == image.lower() for a in args):
            pids.append(int(entry))
    return pids


class Orphan:
    """A Windows program that another Windows program started. Wine starts it
    as a Unix process whose parent leaves at once, so it is handed to the
    first process of the namespace: this test, which reaps it."""

    def __init__(self, pid):
        self.pid = pid
        self.status = None

    def wait(self, timeout):
        """Its exit status, or None when it is still running after `timeout`."""
        def ended():
            if self.status is None:
                pid, status = os.waitpid(self.pid, os.WNOHANG)
                if pid == self.pid:
                    self.status = os.waitstatus_to_exitcode(status)
            return self.status is not None
        harness.wait_for(ended, timeout, step=0.1)
        return self.status


def wait_orphan(image, known=(), timeout=20.0):
    """The one new process running `image` (not among the Unix pids `known`)."""
    def fresh():
        pids = [p for p in processes_running(image) if p not in known]
        return pids[0] if len(pids) == 1 else None
    pid = harness.wait_for(fresh, timeout, step=0.1)
    if pid is None:
        return None
    with open("/proc/%d/stat" % pid) as f:
        parent = int(f.read().rsplit(")", 1)[1].split()[1])
    if parent != os.getpid():
        raise AssertionError("process %d of %s belongs to %d, not to the test"
                             % (pid, image, parent))
    return Orphan(pid)


def main_window_pids():
    return PROBE.window_pids(MAIN_FORM)


def wait_main_window(known=(), timeout=20.0):
    """The Windows process id of the one main window not among `known`."""
    def fresh():
        pids = [p for p in main_window_pids() if p not in known]
        return pids[0] if len(pids) == 1 else None
    return harness.wait_for(fresh, timeout, step=0.2)


# ---- The test ------------------------------------------------------------------

def run_traced(exe, *args, log=None):
    """Runs the Windows program `exe` to its end with Wine's log of the
    firewall step on; answers (exit status, the log of it and of the
    processes it started so far). The processes it started write on into
    `log` (a file) when one is given."""
    env = dict(PREFIX.env, WINEDEBUG=FIREWALL_TRACE)
    with tempfile.TemporaryFile() as own:
        log = log or own
        status = subprocess.run(PREFIX.command(exe, *args), env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=log,
                                timeout=SETUP_TIME).returncode
        log.seek(0)
        return status, log.read().decode("utf-8", "replace")


def firewall_tool_runs(log):
    """The command of each start of lvx-firewall.exe in a Wine log (as the
    process itself was started: nsExec starts a helper first, whose command
    line holds the tool's)."""
    started = re.compile(r'CreateProcessInternalW app .*? cmdline '
                         r'L"\\"[^"]*\\lvx-firewall\.exe\\" (\w+)"$', re.I | re.M)
    return started.findall(log)


class InstallerTest(unittest.TestCase):
    def run_setup(self, *args):
        status, log = run_traced(INSTALLER, *args)
        self.assertEqual(status, 0, "the installer %s failed" % " ".join(args))
        return log

    def check_installed(self, install_dir, expected_programs):
        """The installation folder, the Start menu and the registry as an
        installation leaves them."""
        folder = unix_path(install_dir)
        self.assertEqual(sorted(os.listdir(folder)), sorted(PROGRAMS + (UNINSTALLER,)))
        for name in PROGRAMS:
            with open(os.path.join(folder, name), "rb") as f:
                self.assertEqual(pe_contents(f.read()), pe_contents(expected_programs[name]), name)

        menu = os.path.join(self.start_menu, "Ostrivane")
        self.assertEqual(sorted(os.listdir(menu)), sorted(MENU_ENTRIES))
        for link, target in MENU_ENTRIES.items():
            with open(os.path.join(menu, link), "rb") as f:
                data = f.read()
            self.assertTrue(data.startswith(b"L\0\0\0"), link)
            path = install_dir + "\\" + target
            self.assertTrue(path.encode("cp1252").lower() in data.lower()
                            or path.encode("utf-16-le").lower() in data.lower(),
                            "%s does not lead to %s" % (link, path))

        self.assertEqual(reg_value(RUN_KEY, "Ostrivane"),
                         '"%s\\Ostrivane.exe"' % install_dir)
        entry = reg_values(UNINSTALL_KEY)
        self.assertIsNotNone(entry, "no uninstall entry")
        uninstaller = "%s\\%s" % (install_dir, UNINSTALLER)
        self.assertEqual(entry["DisplayName"], ("REG_SZ", "Ostrivane"))
        self.assertEqual(entry["InstallLocation"], ("REG_SZ", install_dir))
        self.assertEqual(entry["UninstallString"], ("REG_SZ", '"%s"' % uninstaller))
        self.assertEqual(entry["QuietUninstallString"], ("REG_SZ", '"%s" /S' % uninstaller))
        self.assertEqual(entry["DisplayIcon"], ("REG_SZ", install_dir + "\\Ostrivane.exe,0"))
        self.assertRegex(entry["DisplayVersion"][1], r"^\d+\.\d+\.\d+$")

    def relay_once(self, install_dir, text):
        """One command from the installed lvx-send.exe through the running
        program to the installed lvx-slot-monitor.exe."""
        monitor = wine.SlotMonitor(PREFIX, install_dir + "\\lvx-slot-monitor.exe")
        try:
            self.assertTrue(monitor.wait_ready(), monitor.program.error_output())
            status, _ = PREFIX.run(install_dir + "\\lvx-send.exe", "--interface", PEER_ADDR,
                                   "--text", text)
            self.assertEqual(status, 0)
            self.assertEqual(monitor.receive_all(1, 15.0), [text.encode("cp1252")])
        finally:
            monitor.close()

    def test_install_start_at_log_on_update_and_uninstall_while_running(self):
        drive = os.path.join(PREFIX.path, "drive_c")
        with zipfile.ZipFile(ZIP) as z:
            names = [n for n in z.namelist() if not n.endswith("/")]
            # The portable ZIP: the four programs in one folder.
            folders = {n.split("/")[0] for n in names}
            self.assertEqual(len(folders), 1, names)
            self.assertEqual(sorted(n.split("/", 1)[1] for n in names), sorted(PROGRAMS))
            programs = {n.split("/", 1)[1]: z.read(n) for n in names}
        for name, data in programs.items():
            self.assertTrue(data.startswith(b"MZ"), name)
        before = tree(drive)

        # A silent installation that leaves the program unstarted, and the
        # firewall as it is (no /FIREWALL).
        log = self.run_setup("/S", "/NOSTART")
        self.assertEqual(firewall_tool_runs(log), [], log[-2000:])
        command = reg_value(RUN_KEY, "Ostrivane")
        self.assertIsNotNone(command, "no log-on entry")
        program, arguments = split_command(command)
        self.assertEqual(arguments, [])
        install_dir = program.rsplit("\\", 1)[0]
        self.assertRegex(install_dir, r"(?i)^C:\\users\\[^\\]+\\AppData\\Local\\Programs\\Ostrivane$")
        user_dir = install_dir.split("\\AppData\\")[0]
        self.start_menu = unix_path(
            user_dir + r"\AppData\Roaming\Microsoft\Windows\Start Menu\Programs")
        self.check_installed(install_dir, programs)
        self.assertNotIn("FirewallRule", reg_values(UNINSTALL_KEY))
        time.sleep(1.0)
        self.assertEqual(main_window_pids(), [], "/NOSTART, yet the program runs")
        self.assertFalse(harness.udp_port_bound(PORT))

        # Log-on: the program started with the log-on entry's command line.
        first = PREFIX.start(program, *arguments)
        try:
            self.assertTrue(first.wait_bound(timeout=30), "the program did not bind its port")
            first_window = wait_main_window()
            self.assertIsNotNone(first_window)
            self.relay_once(install_dir, "<Remote>installed</Remote>")

            # The user has switched the log-on entry off in the Task Manager;
            # an update keeps that choice.
            status, _ = PREFIX.run("reg", "add", APPROVED_KEY, "/v", "Ostrivane", "/t",
                                   "REG_BINARY", "/d", "030000000000000000000000", "/f")
            self.assertEqual(status, 0)

            # An update over the running program: the installer closes it (it
            # ends as cleanly as from its tray menu), replaces the files and
            # starts the program again, being silent. With /FIREWALL it runs
            # the firewall tool (elevated: Wine runs every process as an
            # administrator and shows no prompt), which adds the rule for
            # the installed program, and looks at the verdict afterwards.
            log = self.run_setup("/S", "/FIREWALL")
            self.assertEqual(firewall_tool_runs(log), ["allow", "status"], log[-4000:])
            program_in_log = program.replace("\\", "\\\\")
            added = ['netfw_rule_put_Name .*, L"Ostrivane"$',
                     'netfw_rule_put_ApplicationName .*, L"%s"$' % re.escape(program_in_log),
                     'netfw_rule_put_Protocol .*, 17$',
                     'netfw_rule_put_LocalPorts .*, L"19151"$',
                     'netfw_rule_put_RemoteAddresses .*, L"LocalSubnet"$',
                     'netfw_rule_put_Direction .*, 1$',
                     'netfw_rule_put_Action .*, 1$',
                     'netfw_rule_put_Profiles .*, 0x7fffffff$',
                     'netfw_rules_Add ']
            for call in added:
                self.assertRegex(log, re.compile(call, re.M))
            self.assertEqual(first.stop(timeout=15, ask=lambda _: None), 0)
        finally:
            if first.alive():
                first.stop(5)
            first.close()
        self.check_installed(install_dir, programs)
        self.assertEqual(reg_value(UNINSTALL_KEY, "FirewallRule"), "0x1")
        self.assertIsNotNone(reg_value(APPROVED_KEY, "Ostrivane"))
        second = wait_orphan(program, known=[first.pid])
        self.assertIsNotNone(second, "the installer did not start the program")
        second_window = wait_main_window(known=[first_window])
        self.assertIsNotNone(second_window)
        self.assertTrue(harness.wait_for(harness.udp_port_bound, 20))

        # A portable copy elsewhere, started as well: it finds the port taken,
        # says so and runs on. The uninstaller must leave it alone.
        portable_dir = unix_path(r"C:\portable")
        os.makedirs(portable_dir)
        with open(os.path.join(portable_dir, "Ostrivane.exe"), "wb") as f:
            f.write(programs["Ostrivane.exe"])
        portable = PREFIX.start(r"C:\portable\Ostrivane.exe")
        try:
            box = PROBE.wait_dialog(TITLE)
            self.assertIsNotNone(box, "the portable copy reported nothing")
            portable_window = box[0]
            self.assertTrue(PROBE.dismiss(TITLE))

            # Uninstalling while the program runs: the uninstaller closes it
            # the normal way, removes the firewall rule (the installation
            # made one), then removes everything.
            uninstall = reg_value(UNINSTALL_KEY, "QuietUninstallString")
            uninstaller, arguments = split_command(uninstall)
            # The uninstaller runs as a copy that it starts in the temporary
            # folder: that copy's log is read once it has done its work.
            uninstall_log = tempfile.TemporaryFile()
            self.addCleanup(uninstall_log.close)
            status, _ = run_traced(uninstaller, *arguments, log=uninstall_log)
            self.assertEqual(status, 0)
            self.assertEqual(second.wait(SETUP_TIME), 0,
                             "the installed program did not end cleanly")
            folder = unix_path(install_dir)
            self.assertTrue(harness.wait_for(lambda: not os.path.exists(folder), SETUP_TIME),
                            "the installation folder is still there: %s"
                            % (os.listdir(folder) if os.path.exists(folder) else ""))
            uninstall_log.seek(0)
            log = uninstall_log.read().decode("utf-8", "replace")
            self.assertEqual(firewall_tool_runs(log), ["remove"], log[-4000:])

            self.assertTrue(portable.alive(), "the uninstaller ended the portable copy")
            self.assertEqual(main_window_pids(), [portable_window])
            self.assertEqual(PROBE.close(MAIN_FORM, portable_window), 1)
            self.assertEqual(portable.stop(timeout=15, ask=lambda _: None), 0)
        finally:
            if portable.alive():
                portable.stop(5)
            portable.close()
        shutil.rmtree(portable_dir)

        # Nothing is left: no process, no file, no shortcut, no registry entry.
        # The uninstaller's copy in the temporary folder removes itself once
        # it has ended.
        self.assertEqual(processes_running(program), [])
        for key in (RUN_KEY, APPROVED_KEY):
            self.assertIsNone(reg_value(key, "Ostrivane"), key)
        self.assertIsNone(reg_values(UNINSTALL_KEY))
        self.assertFalse(os.path.exists(os.path.join(self.start_menu, "Ostrivane")))

        programs_folder = os.path.relpath(os.path.dirname(unix_path(install_dir)), drive)

        def new_files():
            # The folder for per-user programs (FOLDERID_UserProgramFiles) is
            # the system's: it stays, as on Windows.
            return sorted(tree(drive) - before - {programs_folder})
        harness.wait_for(lambda: not new_files(), CLEANUP_TIME, step=0.2)
        self.assertEqual(new_files(), [])
        leftovers = [p for p in tree(drive) if "ostrivane" in p.lower()]
        self.assertEqual(leftovers, [])


def registry_mentions(prefix_path, text):
    """The lines of the prefix's registry files (written when its server
    ends) that mention `text`."""
    hits = []
    for name in ("user.reg", "system.reg", "userdef.reg"):
        path = os.path.join(prefix_path, name)
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                hits += ["%s: %s" % (name, line.strip()) for line in f if text in line.lower()]
    return hits


def own_home(folder):
    """Wine links the user's folders into the prefix and writes menu entries
    for Start menu shortcuts into the home folder: a home of the test's own,
    and (see main) no menu entries at all."""
    home = os.path.join(folder, "home")
    os.makedirs(home)
    os.environ.update(HOME=home, XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                      XDG_CONFIG_HOME=os.path.join(home, ".config"))


def main():
    global INSTALLER, ZIP, PREFIX, PROBE
    (INSTALLER, ZIP, window_probe), argv = harness.test_arguments(
        "--installer", "--zip", "--window-probe")
    with wine.session("OSTRIVANE_INSTALLER_TEST_NS", window_probe,
                      folder_prefix="ostrivane-installer-", before_prefix=own_home) as (
                          PREFIX, PROBE, _):
        PREFIX.env["WINEDLLOVERRIDES"] += ";winemenubuilder.exe=d"
        result = unittest.main(argv=argv, verbosity=2, exit=False).result
        PREFIX.close()
        if not result.wasSuccessful():
            return 1
        if result.testsRun:
            # The registry, as the ended server wrote it, knows nothing of
            # the program any more.
            mentions = registry_mentions(PREFIX.path, "ostrivane")
            if mentions:
                print("left in the registry:\n  " + "\n  ".join(mentions))
                return 1
            print("the registry holds nothing of the program")
    return 0


if __name__ == "__main__":
    sys.exit(main())
