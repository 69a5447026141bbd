"""What the end-to-end tests and scripts/demo share: a network namespace of
their own, the relay (or any program) started, awaited and stopped, the
presentation application's end of the mailslot, remote datagrams, an X
server, and a D-Bus session bus with a StatusNotifierItem watcher and host.

Nothing here knows which platform's build it runs: a program is a command
list, so a launcher can stand in front of it (["wine64", "ostrivane.exe"]),
its environment is the caller's, and the ends that read messages and send
datagrams are small classes with one method to replace (`SlotReader.receive`,
`Sender.send`).

Used as: import ostrivane_harness (the tests beside it); from elsewhere
sys.path.insert(0, <repo>/tests) first.
"""
import argparse
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

GROUP = "224.0.0.1"
PORT = 19151
HEADER = b"\x02LVXML\x02"
SLOT = "Lyravox\\Messages"

# The veth pair of make_veth_pair(): the relay binds the first usable
# interface, which is given HOST_ADDR; the peer end sends.
HOST_IF, PEER_IF = "va", "vb"
HOST_ADDR, PEER_ADDR = "10.99.0.1", "10.99.0.2"
# A second veth pair (other_veth_pair()), for an address on another
# interface, or the first pair's replacement under other names.
OTHER_IF, OTHER_PEER_IF = "vc", "vd"
OTHER_ADDR, OTHER_PEER_ADDR = "10.98.0.1", "10.98.0.2"


# ---- A test script's start ------------------------------------------------------

def test_arguments(*options):
    """The test script's command line: the paths given with `options` (each
    one required, e.g. "--ostrivane"), made absolute and in that order, and
    the argument list for unittest.main() with what is left."""
    parser = argparse.ArgumentParser()
    for option in options:
        parser.add_argument(option, required=True)
    args, rest = parser.parse_known_args()
    paths = [os.path.abspath(getattr(args, option[2:].replace("-", "_"))) for option in options]
    return paths, [sys.argv[0]] + rest


def require(script, tools=(), files=(), also=()):
    """Ends the test script `script` with a message when a command of `tools`
    is not on PATH or a file of `files` does not exist; `also` are further
    things found missing by the caller."""
    missing = [t for t in tools if shutil.which(t) is None]
    missing += [f for f in files if not os.path.exists(f)]
    missing += list(also)
    if missing:
        sys.exit("%s: missing (scripts/test installs them): %s" % (script, ", ".join(missing)))


def run_tests(argv):
    """Runs the script's unittest cases; answers the exit status."""
    result = unittest.main(argv=argv, verbosity=2, exit=False).result
    return 0 if result.wasSuccessful() else 1


# ---- Waiting ------------------------------------------------------------------

def wait_for(predicate, timeout=10.0, step=0.05):
    """Calls `predicate` until it answers something true or `timeout`
    seconds have passed; answers its last answer."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


# ---- The network namespace ----------------------------------------------------

_inside_own_namespace = False


def enter_own_namespace(marker, unshare=("--net", "--map-root-user"), argv=None, env=None):
    """Runs the calling script again inside a namespace of its own and exits
    with its status; returns at once when already inside (the environment
    variable `marker` is "1" there).

    `unshare` are the options for unshare(1) (a Wine test adds "--mount",
    "--propagation", "private"); `argv` is the command to run again (this
    Python script with its arguments by default); `env` is added to the
    environment."""
    global _inside_own_namespace
    if os.environ.get(marker) == "1":
        _inside_own_namespace = True
        return
    if argv is None:
        argv = [sys.executable, os.path.abspath(sys.argv[0])] + sys.argv[1:]
    child_env = dict(os.environ)
    child_env.update(env or {})
    child_env[marker] = "1"
    sys.exit(subprocess.run(["unshare", *unshare, *argv], env=child_env).returncode)


def inside_own_namespace():
    """Whether enter_own_namespace() has put this process into a namespace
    of its own."""
    return _inside_own_namespace


def _ip(*args):
    # Never the machine's own links: only after enter_own_namespace().
    if not _inside_own_namespace:
        raise RuntimeError("network set-up outside a namespace of our own")
    subprocess.run(["ip", *args], check=True)


def bring_up_loopback():
    _ip("link", "set", "lo", "up")


def ip(*args):
    """Runs `ip` with ARGS; only inside the namespace of our own, never on the
    machine's own links."""
    if not _inside_own_namespace:
        raise RuntimeError("network set-up outside a namespace of our own")
    subprocess.run(["ip", *args], check=True)


def link_names():
    """The namespace's interfaces in the system's order (ifindex order,
    which is also the order of getifaddrs)."""
    listing = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True,
                             check=True).stdout
    return [line.split(":")[1].strip().split("@")[0] for line in listing.splitlines()]


def link_is_up(name):
    # /sys still shows the machine's own interfaces inside the namespace: ask ip.
    link = subprocess.run(["ip", "-o", "link", "show", name], capture_output=True,
                          text=True).stdout
    return "LOWER_UP" in link and "state UP" in link


def veth_pair(host, peer, host_addr, peer_addr, prefix=24, timeout=5.0):
    """A veth pair in the current namespace, after the interfaces already
    there in the system's order: `host` (`host_addr`) before `peer`
    (`peer_addr`), both up. Both ends are addresses of this one namespace,
    so traffic between them carries local addresses: martian filtering is
    relaxed. Returns once both carriers are up (the relay skips an interface
    that is down)."""
    _ip("link", "add", "v0", "type", "veth", "peer", "name", "v1")
    # Which end comes first is the kernel's choice: that one gets the host's name.
    first, second = [n for n in link_names() if n in ("v0", "v1")]
    _ip("link", "set", first, "name", host)
    _ip("link", "set", second, "name", peer)
    _ip("addr", "add", "%s/%d" % (host_addr, prefix), "dev", host)
    _ip("addr", "add", "%s/%d" % (peer_addr, prefix), "dev", peer)
    _ip("link", "set", host, "up")
    _ip("link", "set", peer, "up")
    for conf in ("all", "default", host, peer, "lo"):
        for key, value in (("accept_local", "1"), ("rp_filter", "0")):
            path = "/proc/sys/net/ipv4/conf/%s/%s" % (conf, key)
            if os.path.exists(path):
                with open(path, "w") as f:
                    f.write(value)
    if not wait_for(lambda: link_is_up(host) and link_is_up(peer), timeout):
        raise RuntimeError("the veth pair %s/%s did not come up" % (host, peer))


def make_veth_pair(host_addr=HOST_ADDR, peer_addr=PEER_ADDR, prefix=24, timeout=5.0):
    """Loopback up and the veth pair HOST_IF/PEER_IF: HOST_IF (`host_addr`) is
    the first interface in the system's order, so the relay binds there;
    PEER_IF (`peer_addr`) is where test datagrams leave."""
    bring_up_loopback()
    veth_pair(HOST_IF, PEER_IF, host_addr, peer_addr, prefix, timeout)


def other_veth_pair():
    """The second veth pair, OTHER_IF/OTHER_PEER_IF with their addresses."""
    veth_pair(OTHER_IF, OTHER_PEER_IF, OTHER_ADDR, OTHER_PEER_ADDR)


def loopback_only():
    """The namespace with loopback alone: both veth pairs deleted."""
    bring_up_loopback()
    for name in (HOST_IF, OTHER_IF):
        if name in link_names():
            _ip("link", "del", name)


def interface_index(name):
    # /sys shows the machine's own interfaces even inside the namespace.
    link = subprocess.run(["ip", "-o", "link", "show", name], capture_output=True, text=True,
                          check=True).stdout
    return int(link.split(":")[0])


def udp_port_bound(port=PORT):
    """Whether a UDP socket of this namespace is bound to `port` (also true
    for a socket that a wineserver holds for a Windows program)."""
    with open("/proc/net/udp") as f:
        return any(line.split()[1].endswith(":%04X" % port) for line in f.readlines()[1:])


# ---- What the relay does on every platform ---------------------------------------

class RelayCases:
    """End-to-end cases that hold for the relay on every platform, mixed into
    a unittest.TestCase whose set-up starts the relay bound to HOST_ADDR
    (make_veth_pair()) and which provides send(data, to=GROUP),
    assertRelayed(expected, timeout=...) and assertNothingMore(seconds=...).
    BATCH is how long many or large commands may take to arrive."""

    BATCH = 15.0

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

    def test_size_limit_is_the_receive_buffer(self):
        exact = HEADER + b"x" * (8192 - len(HEADER))
        over = HEADER + b"y" * (8193 - len(HEADER))
        self.send(over)
        self.send(exact)
        self.send(over)
        self.send(HEADER + b"after")
        self.assertRelayed([exact[len(HEADER):], b"after"], timeout=self.BATCH)
        self.assertNothingMore(2.0)

    def test_zero_byte_datagram_then_valid_one(self):
        self.send(b"")
        self.send(HEADER + b"next")
        self.assertRelayed([b"next"])

    def test_back_to_back_datagrams_keep_their_order(self):
        expected = [b"cmd %03d" % i for i in range(60)]
        for m in expected:
            self.send(HEADER + m)
        self.assertRelayed(expected, timeout=self.BATCH)

    def test_unicast_to_the_chosen_address(self):
        self.send(HEADER + b"direct", to=HOST_ADDR)
        self.assertRelayed([b"direct"])

    def test_datagrams_to_other_local_addresses_are_not_received(self):
        self.send(HEADER + b"to the peer address", to=PEER_ADDR)
        self.send(HEADER + b"to loopback", to="127.0.0.1")
        self.send(HEADER + b"to the group")
        self.assertRelayed([b"to the group"])
        self.assertNothingMore()


# ---- An X server ----------------------------------------------------------------

class XServer:
    """An Xvfb server of its own on a free display number, reachable only
    from this network namespace (no TCP, no socket file). `env` is the
    environment for its clients: this display, no session bus, no locale.

    It never resets: an X server that resets when its last client leaves
    refuses the clients that connect meanwhile: a tray host or the relay
    started right after a short xdotool call found no display."""

    def __init__(self, screen=(640, 480)):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % screen, "-nolisten", "tcp", "-nolisten", "unix", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        self.env = dict(os.environ, DISPLAY=self.name,
                        DBUS_SESSION_BUS_ADDRESS="disabled:")
        for var in ("WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LC_ALL", "LC_MESSAGES", "LANG",
                    "LANGUAGE"):
            self.env.pop(var, None)

    def run(self, *cmd, check=True):
        """Runs a client (xdotool, xprop, ...) to its end; answers its output."""
        return subprocess.run(cmd, env=self.env, check=check, capture_output=True,
                              text=True).stdout

    def windows(self, pid):
        """The visible windows of the process `pid` (needs xdotool, xprop)."""
        ids = self.run("xdotool", "search", "--onlyvisible", "--pid", str(pid),
                       check=False).split()
        return [XWindow(self, wid) for wid in ids]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class XWindow:
    """A window's place and size on the screen, and whether it is a tooltip,
    as xdotool and xprop saw them when it was made (-1 and 0 for a window
    that was gone by then)."""

    def __init__(self, server, wid):
        self.id = wid
        geometry = server.run("xdotool", "getwindowgeometry", "--shell", wid, check=False)
        values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
        self.x, self.y = int(values.get("X", -1)), int(values.get("Y", -1))
        self.width, self.height = int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))
        kind = server.run("xprop", "-id", wid, "_NET_WM_WINDOW_TYPE", check=False)
        self.tooltip = "_NET_WM_WINDOW_TYPE_TOOLTIP" in kind

    @property
    def box(self):
        return (self.x, self.y, self.width, self.height)

    @property
    def centre(self):
        return (self.x + self.width // 2, self.y + self.height // 2)

    def __repr__(self):
        return "XWindow(%s, %r)" % (self.id, self.box)


# ---- A D-Bus session bus and a tray host on it -----------------------------------

# The bus configuration: a session bus that starts no services, reachable
# only from this machine's (or namespace's) own processes.
_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


class SessionBus:
    """A dbus-daemon of its own, as the session bus of the programs given
    `address` as DBUS_SESSION_BUS_ADDRESS (relay_env(bus=...)). It activates
    no services; its socket lives in a folder of its own."""

    def __init__(self):
        self.dir = tempfile.TemporaryDirectory(prefix="ostrivane-bus-")
        config = os.path.join(self.dir.name, "bus.conf")
        with open(config, "w") as f:
            f.write(_BUS_CONFIG % self.dir.name)
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["dbus-daemon", "--config-file=" + config, "--nofork",
             "--print-address=%d" % write_end],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.address = f.readline().strip()
        if not self.address:
            self.proc.wait(10)
            self.dir.cleanup()
            raise RuntimeError("dbus-daemon did not start")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.dir.cleanup()


def gio():
    """GLib's D-Bus binding: (Gio, GLib) from python3-gi, which Debian
    installs for the system's /usr/bin/python3."""
    import gi
    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib
    return Gio, GLib


def bus_connection(address):
    """A connection of its own to the bus at `address`."""
    Gio, _ = gio()
    flags = (Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
             | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION)
    return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)


SNI_WATCHER = "org.kde.StatusNotifierWatcher"
SNI_WATCHER_PATH = "/StatusNotifierWatcher"
SNI_ITEM = "org.kde.StatusNotifierItem"
SNI_ITEM_PATH = "/StatusNotifierItem"
DBUSMENU = "com.canonical.dbusmenu"
NO_MENU = "/NO_DBUSMENU"

_WATCHER_XML = """<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
  <signal name="StatusNotifierHostUnregistered"/>
</interface></node>"""


class StatusNotifierWatcher:
    """The watcher of a tray host that shows StatusNotifierItems, as desktops
    with such a tray run it: it owns org.kde.StatusNotifierWatcher, says
    that a host is there, and keeps the items that register, as (bus name,
    object path), until their bus name goes away. It serves from a thread
    of its own until stop()."""

    def __init__(self, address):
        self.address = address
        self._items = []
        self._lock = threading.Lock()
        self._ready = threading.Event()
        self._error = None
        self._loop = None
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()
        self._ready.wait(10)
        if self._error is not None or self._loop is None:
            raise RuntimeError("the watcher did not start: %s" % self._error)

    def items(self):
        with self._lock:
            return list(self._items)

    def wait_item(self, timeout=10.0):
        """The first registered item, or None when none came in time."""
        found = wait_for(self.items, timeout)
        return found[0] if found else None

    def stop(self):
        # From the loop itself: a quit that came before the loop began to
        # run would be forgotten.
        _, GLib = gio()
        source = GLib.idle_source_new()
        source.set_callback(lambda *_: self._loop.quit())
        source.attach(self._loop.get_context())
        self._thread.join(10)

    def _serve(self):
        Gio, GLib = gio()
        context = GLib.MainContext.new()
        context.push_thread_default()
        try:
            conn = bus_connection(self.address)
            node = Gio.DBusNodeInfo.new_for_xml(_WATCHER_XML)

            def call(conn_, sender, path, interface, method, params, invocation):
                if method == "RegisterStatusNotifierItem":
                    service = params.unpack()[0]
                    # A bus name, or the caller's object path.
                    item = (sender, service) if service.startswith("/") else (service,
                                                                              SNI_ITEM_PATH)
                    with self._lock:
                        if item not in self._items:
                            self._items.append(item)
                    conn.emit_signal(None, SNI_WATCHER_PATH, SNI_WATCHER,
                                     "StatusNotifierItemRegistered",
                                     GLib.Variant("(s)", (item[0] + item[1],)))
                invocation.return_value(None)

            def get(conn_, sender, path, interface, name):
                with self._lock:
                    registered = [n + p for n, p in self._items]
                return {"RegisteredStatusNotifierItems": GLib.Variant("as", registered),
                        "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                        "ProtocolVersion": GLib.Variant("i", 0)}[name]

            def owner_changed(conn_, sender, path, interface, signal, params):
                name, _, new_owner = params.unpack()
                if new_owner:
                    return
                with self._lock:
                    gone = [i for i in self._items if i[0] == name]
                    self._items = [i for i in self._items if i[0] != name]
                for item in gone:
                    conn.emit_signal(None, SNI_WATCHER_PATH, SNI_WATCHER,
                                     "StatusNotifierItemUnregistered",
                                     GLib.Variant("(s)", (item[0] + item[1],)))

            registration = conn.register_object(SNI_WATCHER_PATH, node.interfaces[0], call, get,
                                                None)
            subscription = conn.signal_subscribe(
                "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                "/org/freedesktop/DBus", None, Gio.DBusSignalFlags.NONE, owner_changed)
            reply = conn.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "RequestName",
                                   GLib.Variant("(su)", (SNI_WATCHER, 4)),  # do not queue
                                   None, Gio.DBusCallFlags.NONE, 5000, None)
            if reply.unpack()[0] != 1:  # the primary owner
                raise RuntimeError("%s is taken" % SNI_WATCHER)
            self._loop = GLib.MainLoop.new(context, False)
        except Exception as e:  # reported to the starting thread
            self._error = e
            self._ready.set()
            context.pop_thread_default()
            return
        self._ready.set()
        self._loop.run()
        conn.signal_unsubscribe(subscription)
        conn.unregister_object(registration)
        conn.close_sync(None)
        context.pop_thread_default()


class StatusNotifierHost:
    """What a tray host asks of one item (`item`: bus name and object path)
    and tells it: its properties, its exported menu, the user's clicks."""

    def __init__(self, address, item):
        self.conn = bus_connection(address)
        self.name, self.path = item

    def close(self):
        self.conn.close_sync(None)

    def _call(self, path, interface, method, signature=None, args=None, timeout=5.0):
        Gio, GLib = gio()
        reply = self.conn.call_sync(
            self.name, path, interface, method,
            GLib.Variant(signature, args) if signature else None, None,
            Gio.DBusCallFlags.NO_AUTO_START, int(timeout * 1000), None)
        return reply.unpack() if reply is not None else ()

    def property(self, name):
        return self._call(self.path, "org.freedesktop.DBus.Properties", "Get", "(ss)",
                          (SNI_ITEM, name))[0]

    def menu_path(self):
        """The object path of the exported menu; NO_MENU when there is none."""
        return self.property("Menu")

    def menu_entries(self):
        """The exported menu's top-level entries: (id, properties) pairs."""
        _, (_, _, children) = self._call(self.menu_path(), DBUSMENU, "GetLayout", "(iias)",
                                         (0, -1, []))
        return [(child[0], child[1]) for child in children]

    def click(self, entry_id):
        """The user chose the entry in the host's own rendering of the menu."""
        _, GLib = gio()
        self._call(self.menu_path(), DBUSMENU, "Event", "(isvu)",
                   (entry_id, "clicked", GLib.Variant("i", 0), 0))

    def context_menu(self, x, y):
        """The user asked for the item's menu at (x, y), for a host that lets
        the item show its menu itself."""
        self._call(self.path, SNI_ITEM, "ContextMenu", "(ii)", (x, y))

    def activate(self, x, y):
        self._call(self.path, SNI_ITEM, "Activate", "(ii)", (x, y))

    def secondary_activate(self, x, y):
        self._call(self.path, SNI_ITEM, "SecondaryActivate", "(ii)", (x, y))


# ---- Programs -----------------------------------------------------------------

def relay_env(runtime_dir, display=None, locale=None, base=None, extra=None, bus=None):
    """The relay's environment: `base` (os.environ by default) with a private
    XDG_RUNTIME_DIR, the session bus at the address `bus` or none, and the X
    display `display` or none (so Qt runs offscreen). `locale` (e.g.
    {"LANG": "de_DE.UTF-8"}) replaces all the locale variables when given;
    `extra` is added last."""
    env = dict(os.environ if base is None else base)
    for var in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
        env.pop(var, None)
    if display is not None:
        env["DISPLAY"] = display
    env["DBUS_SESSION_BUS_ADDRESS"] = bus if bus is not None else "disabled:"
    if locale is not None:
        for var in ("LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"):
            env.pop(var, None)
        env.update(locale)
    env["XDG_RUNTIME_DIR"] = runtime_dir
    env.update(extra or {})
    return env


class Program:
    """One started program: `command` is a path or a list (a launcher may
    come first). Its standard error is kept in a file, standard output goes
    to `stdout` (a file object, or nowhere)."""

    def __init__(self, command, env, stdout=None):
        self.command = [command] if isinstance(command, str) else list(command)
        self.stderr = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            self.command, env=env, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL if stdout is None else stdout, stderr=self.stderr)

    @property
    def pid(self):
        return self.proc.pid

    @property
    def returncode(self):
        return self.proc.returncode

    def alive(self):
        return self.proc.poll() is None

    def error_output(self):
        self.stderr.seek(0)
        return self.stderr.read().decode("utf-8", "replace")

    def wait_ready(self, ready, timeout=5.0, settle=0.0):
        """Until `ready()` is true (then `settle` seconds more); false when
        the program ended first or `timeout` passed."""
        deadline = time.monotonic() + timeout
        while self.alive():
            if ready():
                time.sleep(settle)
                return True
            if time.monotonic() >= deadline:
                return False
            time.sleep(0.025)
        return False

    def wait_bound(self, port=PORT, timeout=5.0):
        """Until the program's datagram socket is bound to `port`; the group
        join follows the bind at once."""
        return self.wait_ready(lambda: udp_port_bound(port), timeout, settle=0.05)

    def close(self):
        """Lets go of the kept standard error (after stop())."""
        self.stderr.close()

    def stop(self, timeout=10.0, ask=None):
        """Asks the program to end (`ask(self)`; SIGTERM by default) and
        answers its exit status. One that is still running after `timeout`
        seconds is killed, and subprocess.TimeoutExpired raised."""
        if self.alive():
            if ask is None:
                self.proc.send_signal(signal.SIGTERM)
            else:
                ask(self)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise
        return self.proc.returncode


class _Closing:
    """close() on leaving a `with` block."""

    def close(self):
        pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


# ---- The presentation application's end: reading the mailslot ------------------

def slot_path(runtime_dir, slot=SLOT):
    """The endpoint of mailslot `slot` on Linux: a Unix datagram socket below
    $XDG_RUNTIME_DIR/mailslot."""
    return os.path.join(runtime_dir, "mailslot", *slot.split("\\"))


class SlotReader(_Closing):
    """Reads the messages written into the mailslot, one bytes object each.
    A reader for another platform implements receive() and close()."""

    def receive(self, timeout=5.0):
        """The next message, or None when none came within `timeout`."""
        raise NotImplementedError

    def receive_all(self, count, timeout=10.0):
        """Up to `count` messages, all within `timeout` seconds."""
        messages = []
        deadline = time.monotonic() + timeout
        while len(messages) < count and time.monotonic() < deadline:
            m = self.receive(max(0.0, deadline - time.monotonic()))
            if m is None:
                break
            messages.append(m)
        return messages

    def quiet(self, seconds=0.5):
        """Whatever arrives until `seconds` pass without a message; a test
        that expects nothing more asserts that this is empty."""
        got = []
        while True:
            m = self.receive(seconds)
            if m is None:
                return got
            got.append(m)


class UnixSlotReader(SlotReader):
    """The Linux endpoint: a bound Unix datagram socket at slot_path()."""

    def __init__(self, runtime_dir, slot=SLOT):
        self.path = slot_path(runtime_dir, slot)
        os.makedirs(os.path.dirname(self.path), mode=0o700, exist_ok=True)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(self.path)

    def receive(self, timeout=5.0):
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return None
        return self.sock.recv(70000)

    def close(self):
        self.sock.close()
        if os.path.exists(self.path):
            os.unlink(self.path)


class ProgramReader(SlotReader):
    """A program that reads the slot and prints a line `<length> <hex bytes>`
    per message (`lvx-slot-monitor --hex`, or a Windows reader under Wine).
    Its output goes to a file that is polled, never to a pipe, so helper
    processes that inherit it cannot hold anything up."""

    def __init__(self, command, env):
        self.output = tempfile.TemporaryFile()
        self.program = Program(command, env, stdout=self.output)
        self.position = 0

    def _next_line(self):
        # The program writes through the same open file, hence at the same
        # file offset: reading with pread leaves that offset alone (a seek
        # here would make the program write over lines not yet read).
        fd = self.output.fileno()
        chunks = []
        at = self.position
        while True:
            chunk = os.pread(fd, 1 << 16, at)
            if not chunk:
                return None
            end = chunk.find(b"\n")
            if end >= 0:
                chunks.append(chunk[:end + 1])
                line = b"".join(chunks)
                self.position += len(line)
                return line
            chunks.append(chunk)
            at += len(chunk)

    def receive(self, timeout=5.0):
        line = wait_for(self._next_line, timeout, step=0.02)
        if line is None:
            return None
        length, _, data = line.rstrip(b"\n").partition(b" ")
        message = bytes.fromhex(data.decode("ascii"))
        if int(length) != len(message):
            raise ValueError("reader printed %r" % line)
        return message

    def close(self):
        self.program.stop()
        self.program.close()
        self.output.close()


# ---- The remote end: sending datagrams -----------------------------------------

def remote_datagram(text):
    """A remote datagram: the header, then `text` (str as UTF-8, bytes as they are)."""
    return HEADER + (text.encode("utf-8") if isinstance(text, str) else text)


class Sender(_Closing):
    """Sends datagrams to the relay. Another way of sending implements send()."""

    def send(self, data, to=GROUP, port=PORT):
        raise NotImplementedError


class UdpSender(Sender):
    """A UDP socket whose multicast leaves through the interface with the
    address `interface` (TTL 1), with multicast loop-back on or off."""

    def __init__(self, interface=PEER_ADDR, loop=True):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                             socket.inet_aton(interface))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1 if loop else 0)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 20)

    def send(self, data, to=GROUP, port=PORT):
        # Nothing may reach the machine's own network.
        if not (_inside_own_namespace or to.startswith("127.")):
            raise RuntimeError("sending to %s outside a namespace of our own" % to)
        self.sock.sendto(data, (to, port))

    def close(self):
        self.sock.close()


class LinkSender(UdpSender):
    """A UDP socket whose multicast leaves through the interface `name`,
    which may have no address (TTL 1), with multicast loop-back on or off."""

    def __init__(self, name, loop=True):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        # struct ip_mreqn: no group, no address, the interface's number.
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                             struct.pack("=4s4si", bytes(4), bytes(4), interface_index(name)))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1 if loop else 0)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
