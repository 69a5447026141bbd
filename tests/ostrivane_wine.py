"""The Windows build's programs under Wine, for the end-to-end tests and the
benchmarks: a namespace in which the Wine server is the run's own, a Wine
prefix with its server, Windows programs started and stopped, the mailslot
read by lvx-slot-monitor.exe, and the windows of a program looked at through
the test tool window_probe.exe.

Wine's server makes the programs' sockets, so it has to run inside the
run's network namespace; and a server of the same prefix running elsewhere
would be found through /tmp/.wine-$UID, so the namespace gets a private
tmpfs there. A Wine window needs an X display, and Wine's desktop process
stays on the display that was set when the prefix's server started: start
the X server first.

Used as: import ostrivane_wine (the tests beside it); from elsewhere
sys.path.insert(0, <repo>/tests) first.
"""
import contextlib
import os
import subprocess
import tempfile

import ostrivane_harness as harness

WINE = os.environ.get("OSTRIVANE_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("OSTRIVANE_WINESERVER", "/usr/lib/wine/wineserver64")

# For harness.enter_own_namespace(): a network and a mount namespace, and a
# process namespace whose first process is the test itself, so that nothing
# it started (Wine's server and service processes, Xvfb) outlives it, even
# when it is killed.
NAMESPACE = ("--net", "--mount", "--map-root-user", "--propagation", "private",
             "--pid", "--fork", "--kill-child", "--mount-proc")


def private_server_dir():
    """A private tmpfs over /tmp/.wine-$UID, Wine's folder of server sockets
    (inside the run's mount namespace only, after enter_own_namespace())."""
    if not harness.inside_own_namespace():
        raise RuntimeError("mounting outside a namespace of our own")
    path = "/tmp/.wine-%d" % os.getuid()
    os.makedirs(path, mode=0o700, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0700,size=16m", "tmpfs", path],
                   check=True)
    return path


@contextlib.contextmanager
def session(marker, window_probe, network="veth", folder_prefix="ostrivane-wine-",
            before_prefix=None):
    """A test script's whole Wine set-up: the script runs again in a
    namespace of its own (NAMESPACE; `marker` as for
    harness.enter_own_namespace()) with a private server folder, the network
    made (`network`: "veth" for harness.make_veth_pair(), "loopback" for
    loopback alone), an X server of its own and, in a scratch folder, a Wine
    prefix displaying there. `before_prefix(folder)` runs before the prefix
    starts. Yields (prefix, WindowProbe of `window_probe`, folder); all of it
    is gone afterwards."""
    harness.enter_own_namespace(marker, unshare=NAMESPACE)
    if os.getpid() != 1:
        # What the run starts ends with it only as the namespace's first process.
        raise RuntimeError("the test must be the first process of its process namespace")
    private_server_dir()
    if network == "veth":
        harness.make_veth_pair()
    else:
        harness.bring_up_loopback()
    display = harness.XServer()
    try:
        with tempfile.TemporaryDirectory(prefix=folder_prefix) as folder:
            if before_prefix is not None:
                before_prefix(folder)
            with WinePrefix(os.path.join(folder, "prefix"), display=display.name) as prefix:
                yield prefix, WindowProbe(prefix, window_probe), folder
    finally:
        display.stop()


def _run_to_end(command, env, timeout):
    """Runs `command` to its end; answers (exit status, standard output).
    The output goes through a file: a Wine process may hand its standard
    output on to a helper process that lives as long as the server."""
    with tempfile.TemporaryFile() as out:
        status = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        return status, out.read().decode("utf-8", "replace")


# The Windows versions a prefix can be set to report (Wine's names for them,
# as in HKCU\Software\Wine "Version"), with the version number
# `cmd /c ver` then shows. A new prefix of Wine 8 reports Windows 7; Wine 9
# made Windows 10 the default.
WINDOWS_VERSIONS = {"winxp64": "5.2", "vista": "6.0", "win7": "6.1", "win8": "6.2",
                    "win81": "6.3", "win10": "10.0"}


class WinePrefix:
    """A Wine prefix at `path` (made when it does not exist yet) and its
    server, started here and kept until close(). `display` is the X display
    of its windows; `locale` the locale variables it runs with (LANG=C.UTF-8
    by default, which gives code page 1252). `windows_version` (by default
    $OSTRIVANE_WINE_WINDOWS_VERSION, else Wine's own default) is the Windows
    version its programs are told, one of WINDOWS_VERSIONS. `env` is the
    environment for its programs."""

    def __init__(self, path, display=None, locale=None, timeout=120, windows_version=None):
        self.path = path
        # The server works in the prefix's folder.
        os.makedirs(path, exist_ok=True)
        env = dict(os.environ)
        for var in ("DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANG",
                    "LANGUAGE"):
            env.pop(var, None)
        env.update(locale if locale is not None else {"LANG": "C.UTF-8"})
        if display is not None:
            env["DISPLAY"] = display
        env.update(WINEPREFIX=path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                   DBUS_SESSION_BUS_ADDRESS="disabled:")
        self.env = env
        self.started = False
        # A server that stays until it is told to end; its output, and that
        # of the first program, which starts the service processes, go
        # nowhere.
        subprocess.run([WINESERVER, "-p"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        self.started = True
        try:
            status, _ = _run_to_end([WINE, "cmd", "/c", "exit"], env, timeout)
        except BaseException:
            self.close()
            raise
        if status != 0:
            self.close()
            raise RuntimeError("the Wine prefix %s did not start (status %d)" % (path, status))
        if windows_version is None:
            windows_version = os.environ.get("OSTRIVANE_WINE_WINDOWS_VERSION") or None
        if windows_version is not None:
            self._set_windows_version(windows_version, timeout)

    def _set_windows_version(self, version, timeout):
        """Sets the Windows version the prefix reports (programs started
        afterwards are told it); `cmd /c ver` must then show its number."""
        if version not in WINDOWS_VERSIONS:
            self.close()
            raise ValueError("not a Windows version Wine knows here: %r (one of %s)"
                             % (version, ", ".join(WINDOWS_VERSIONS)))
        status, _ = _run_to_end([WINE, "reg", "add", "HKCU\\Software\\Wine", "/v", "Version",
                                 "/d", version, "/f"], self.env, timeout)
        shown = ""
        if status == 0:
            status, shown = _run_to_end([WINE, "cmd", "/c", "ver"], self.env, timeout)
        number = WINDOWS_VERSIONS[version]
        if status != 0 or ("Windows %s." % number) not in shown:
            self.close()
            raise RuntimeError("the Wine prefix %s does not report %s (%s): %r"
                               % (self.path, version, number, shown.strip()))
        print("Wine reports Windows %s (%s)" % (number, version), flush=True)

    def command(self, exe, *args):
        """The command list that runs the Windows program `exe` here."""
        return [WINE, exe, *args]

    def start(self, exe, *args, stdout=None):
        """Starts the Windows program `exe` (a harness.Program; its process is
        the Windows process itself)."""
        return harness.Program(self.command(exe, *args), self.env, stdout=stdout)

    def run(self, exe, *args, timeout=60):
        """Runs the Windows program `exe` to its end; answers (exit status,
        standard output)."""
        return _run_to_end(self.command(exe, *args), self.env, timeout)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Ends the server of this prefix, and with it every program still
        running in it; waits until it has gone."""
        if self.started:
            self.started = False
            subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


class WindowProbe:
    """window_probe.exe, run in `prefix`: what a user sees of the programs'
    windows."""

    def __init__(self, prefix, exe):
        self.prefix = prefix
        self.exe = exe

    def _run(self, *args):
        return self.prefix.run(self.exe, *args, timeout=30)

    def code_page(self):
        status, out = self._run("acp")
        if status != 0:
            raise RuntimeError("window_probe acp failed (%d)" % status)
        return int(out.strip())

    def dialog(self, title):
        """(process id, text) of the dialog box titled `title`, or None. The
        text is that of its static controls, one line per line."""
        status, out = self._run("dialog", title)
        if status != 0:
            return None
        pid, _, text = out.partition("\n")
        return int(pid), text.rstrip("\n")

    def wait_dialog(self, title, timeout=20.0):
        return harness.wait_for(lambda: self.dialog(title), timeout, step=0.2)

    def dismiss(self, title):
        """Presses OK on the dialog box titled `title`; false when there is none."""
        return self._run("dismiss", title)[0] == 0

    def window_pids(self, window_class):
        """The process ids of the top-level windows of `window_class`."""
        status, out = self._run("pids", window_class)
        return [int(line) for line in out.split()] if status == 0 else []

    def control_text(self, window_class, control_id, pid=None):
        """The text of the control `control_id` of the first top-level window
        of `window_class` (of process `pid`, when given), or None."""
        args = ["text", window_class, str(control_id)] + ([str(pid)] if pid is not None else [])
        status, out = self._run(*args)
        return out[:-1] if status == 0 and out.endswith("\n") else None

    def close(self, window_class, pid=None):
        """Posts WM_CLOSE to the top-level windows of `window_class` (of
        process `pid` only, when given); answers how many it reached."""
        args = ["close", window_class] + ([str(pid)] if pid is not None else [])
        status, out = self._run(*args)
        return int(out.strip() or 0) if status in (0, 1) else 0


class SlotMonitor(harness.ProgramReader):
    """lvx-slot-monitor.exe --hex in `prefix`: the owner of the mailslot,
    standing in for the presentation application. The slot exists once
    ready() is true."""

    def __init__(self, prefix, exe, *options, slot=harness.SLOT):
        super().__init__(prefix.command(exe, "--hex", "--slot", slot, *options), prefix.env)

    def ready(self):
        return "listening at" in self.program.error_output()

    def wait_ready(self, timeout=20.0):
        return self.program.wait_ready(self.ready, timeout)


# What a user sees of Ostrivane.exe: its main window's class, the title of
# its message boxes (the program file's name up to its first full stop), the
# report of a second copy, and the log box (Memo1) among the main window's
# controls.
MAIN_FORM = "TMainForm"
TITLE = "Ostrivane"
BIND_FAILURE = "Could not bind socket. Address and port are already in use."
LOG_BOX_ID = 107


class Relay:
    """One running Ostrivane.exe `exe` in `prefix`: its process, and its
    Windows process id, through which `probe` (a WindowProbe) finds its main
    window."""

    def __init__(self, prefix, probe, exe):
        self.probe = probe
        self.before = set(probe.window_pids(MAIN_FORM))
        self.program = prefix.start(exe)
        self.windows_pid = None

    def wait_bound(self):
        return self.program.wait_bound(timeout=30)

    def find_main_window(self, timeout=20.0):
        """The Windows process id of this copy's main window."""
        def new_pid():
            fresh = set(self.probe.window_pids(MAIN_FORM)) - self.before
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
                timeout, ask=lambda _: self.probe.close(MAIN_FORM, self.windows_pid))
        finally:
            self.program.close()

    def log_box(self):
        return self.probe.control_text(MAIN_FORM, LOG_BOX_ID, self.windows_pid)


def start_slot_monitor(prefix, exe, *options):
    """lvx-slot-monitor.exe `exe` with `options`, once it holds the slot."""
    monitor = SlotMonitor(prefix, exe, *options)
    if not monitor.wait_ready():
        error = monitor.program.error_output()
        monitor.close()
        raise AssertionError("lvx-slot-monitor did not start: " + error)
    return monitor


def process_memory(pid):
    """VmRSS and VmHWM of a process in KiB, from /proc."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0])
    return values
