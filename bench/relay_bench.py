#!/usr/bin/env python3
"""Measures relays side by side in one run: Ostrivane, socat and the
minimal one-thread relay (bench/minimal_relay.cpp, the floor).

Everything runs in a network namespace that the script makes for itself
(unshare --net --map-root-user) with a veth pair inside: remote datagrams
leave the peer end (multicast loop-back off) for the group 224.0.0.1 on port
19151, the relay joins the group on the other end, and the script reads what
it relays at the endpoint, a Unix datagram socket where the presentation
application's slot would be. Nothing leaves the namespace.

The load is bench/relay_load.cpp (relay-load), a sender and a reader in
C++ that this script runs once per mode and size, handing it the sending
socket and the endpoint; it opens none of its own.

The load runs on the first CPU and the relay on the last (taskset; --pin),
so that neither takes the other's CPU and the relay's threads stay on one;
the veth pair's MTU is 65535 (--mtu), so that no command is fragmented: at
1500 the kernel's fragmenting and reassembling of 8000-byte datagrams, done
on the load's CPU, set the pace for every relay alike. The endpoint may
queue 512 datagrams (--unix-queue; Linux's default is 10): a mailslot takes
a message at once.

The run goes in rounds (5 by default). In a round each relay first has an
idle turn:
  ready       start of the process until the first relayed datagram (a
              probe is sent every millisecond)
  idle        after a second's rest, over --idle seconds: CPU time (all
              threads, from schedstat), wake-ups (context switches) per
              second, then VmRSS and the private memory (Private_Dirty of
              smaps_rollup)
then come the slices: per mode and size, each relay in turn is started for
a slice of its own (--warmup commands in closed loop at that size, not
counted, then the mode), the relays of a slice back to back and their order
turning from slice to slice, so that a spell of some seconds in which the
machine runs slow meets them alike (--order turns gives each relay all its
modes in one turn instead). The modes:
  closed      closed loop: one command in flight, the next sent when it has
              arrived
  window      64 commands in flight, one more sent per arrival
  paced       1000 commands a second, each sent on time
each with 100-byte and 8000-byte commands (the text after the header), giving
the commands relayed per second, the p50 and p99 latency from send to
arrival, the datagrams lost, and the relay's CPU time and context switches
per command; after the round's last slice, the memory again.

A round is valid when the floor, the minimal relay, comes out at least as
fast as socat in it in every mode (throughput in closed loop and window, p50
when paced): where it does not, the machine, not the relays, set the pace.
Invalid rounds are named and left out. The first table shows the medians
over the valid rounds and each relay's ratio of medians to socat; the second
each relay's per-round ratio to socat over the valid rounds, as median
(min-max), and the largest departure of a round from that median.

socat runs as a user who only wants datagrams moved would run it:
  socat -u UDP4-RECV:19151,ip-add-membership=224.0.0.1:<address> UNIX-SENDTO:<path>
It forwards datagrams whole (header included) and checks nothing.

With --windows, the same modes run against the Windows build under Wine:
Ostrivane.exe and the minimal relay built for Windows (minimal-relay.exe),
in network, mount and process namespaces with a Wine server and an X server
of the run's own. slot-bridge.exe owns the mailslot and hands each message
on to the script over loopback UDP, for both relays alike; the ratios are to
the minimal relay, since Wine is not Windows. The CPU and memory figures are
those of the relay's own process (Wine's server works for it besides).

Usage: bench/relay_bench.py [--build build/linux] [--rounds 5] [--markdown]
       bench/relay_bench.py --windows [--build build/windows]
       scripts/bench builds what it needs and runs this (--windows too).
"""
import argparse
import json
import os
import platform
import select
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import ostrivane_harness as harness  # noqa: E402
from ostrivane_harness import GROUP, HEADER, HOST_ADDR, PEER_ADDR, PORT  # noqa: E402

SIZES = (100, 8000)
MODES = ("closed", "window", "paced")
WINDOW = 64
PACE_PER_SECOND = 1000
# A command that has not arrived after this long is lost.
LOST_AFTER = 0.25
# The veth pair's MTU: large enough that no command is cut into fragments.
# Fragmenting and reassembling an 8000-byte datagram is the kernel's work on
# the sending side (six pieces at 1500), all of it on the load's CPU, which
# then set the pace at 8000 B for every relay alike.
BENCH_MTU = 65535
# Datagrams the endpoint may hold (net.unix.max_dgram_qlen in the
# namespace). With Linux's default of 10, the load's reader, not the relay,
# sets the pace with a window of 64 in flight: every relay waits for room,
# and Ostrivane's writer, whose waiting for a reader is bounded, gives up
# messages where socat and the floor block. A mailslot takes a message at
# once; 512 is near that.
BENCH_UNIX_QUEUE = 512
# taskset prefixes that keep the load and the relays on CPUs of their own
# (from --pin).
LOAD_PREFIX = []
RELAY_PREFIX = []
RELAY_NAMES = ("ostrivane", "socat", "minimal")
TITLES = {"ostrivane": "Ostrivane", "socat": "socat", "minimal": "minimal relay",
          "ostrivane.exe": "Ostrivane.exe (Wine)", "minimal.exe": "minimal relay .exe (Wine)"}

# ---- The relay's process: CPU, wake-ups, memory ------------------------------------

def cpu_and_switches(pid):
    """(nanoseconds on a CPU, context switches) of all threads of `pid`."""
    cpu = switches = 0
    for tid in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                cpu += int(f.read().split()[0])
            with open("/proc/%d/task/%s/status" % (pid, tid)) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that has just ended
    return cpu, switches


def udp_receive_buffer_drops():
    """Datagrams this namespace's UDP sockets dropped for want of room in
    their receive buffers (RcvbufErrors of /proc/net/snmp)."""
    with open("/proc/net/snmp") as f:
        lines = [line.split() for line in f if line.startswith("Udp:")]
    header, values = lines[0], lines[1]
    return int(values[header.index("RcvbufErrors")])


def thread_count(pid):
    return len(os.listdir("/proc/%d/task" % pid))


def memory_kib(pid):
    """VmRSS and Private_Dirty, in KiB."""
    result = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                result["rss"] = int(line.split()[1])
    with open("/proc/%d/smaps_rollup" % pid) as f:
        for line in f:
            if line.startswith("Private_Dirty:"):
                result["private"] = int(line.split()[1])
    return result


# ---- The two ends ---------------------------------------------------------------------

class Endpoint:
    """Where the relayed commands arrive: the Unix datagram socket the relays
    deliver to on Linux (`path`), or, for Windows relays under Wine, the UDP
    port on loopback that slot-bridge.exe hands the slot's messages on to
    (`port`)."""

    def __init__(self, path=None, port=None):
        self.path = path
        if path is not None:
            os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
            self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
            self.sock.bind(path)
        else:
            self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
            self.sock.bind(("127.0.0.1", port))
        self.sock.setblocking(False)
        self.poller = select.poll()
        self.poller.register(self.sock, select.POLLIN)

    def receive(self, timeout):
        """(message, arrival time in ns) or None after `timeout` seconds."""
        try:
            return self.sock.recv(65536), time.perf_counter_ns()
        except BlockingIOError:
            pass
        if not self.poller.poll(max(0, timeout) * 1000.0):
            return None
        try:
            return self.sock.recv(65536), time.perf_counter_ns()
        except BlockingIOError:
            return None

    def drain(self, quiet=LOST_AFTER):
        """Reads until nothing has come for `quiet` seconds; the count read."""
        count = 0
        while self.receive(quiet) is not None:
            count += 1
        return count

    def close(self):
        self.sock.close()
        if self.path is not None:
            os.unlink(self.path)


class Remote:
    """The sender on the peer end of the veth pair: a socket connected to
    the group and port, which relay-load is given too."""

    def __init__(self):
        # Only ever inside the namespace made by enter_own_namespace().
        if not harness.inside_own_namespace():
            raise RuntimeError("sending outside a namespace of our own")
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                             socket.inet_aton(PEER_ADDR))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
        self.sock.connect((GROUP, PORT))

    def send(self, payload):
        self.sock.send(HEADER + payload)

    def close(self):
        self.sock.close()


# ---- The load ----------------------------------------------------------------------

class Numbering:
    """Sequence numbers of one relay's turn, so that a late arrival from an
    earlier mode is never taken for one of the current mode."""

    def __init__(self):
        self.next = 1

    def take(self, count):
        first = self.next
        self.next += count
        return first


def run_load(load, remote, endpoint, mode, size, first, count, budget):
    """relay-load's run of `mode`: (received, lost, elapsed ns, p50 ns, p99 ns)."""
    if not harness.inside_own_namespace():
        raise RuntimeError("sending outside a namespace of our own")
    mode_arg = {"closed": "closed", "window": "window:%d" % WINDOW,
                "paced": "paced:%d" % PACE_PER_SECOND}[mode]
    sender, reader = remote.sock.fileno(), endpoint.sock.fileno()
    done = subprocess.run(
        LOAD_PREFIX + [load, str(sender), str(reader), mode_arg, str(size), str(count), str(first),
         str(max(1, int(round(budget))))],
        pass_fds=(sender, reader), stdin=subprocess.DEVNULL, capture_output=True, text=True,
        env=dict(os.environ, OSTRIVANE_RELAY_BENCH_NS="1"), timeout=budget + count / PACE_PER_SECOND + 60)
    if done.returncode != 0:
        raise RuntimeError("relay-load ended with %d: %s" % (done.returncode, done.stderr))
    fields = done.stdout.split()
    values = dict(zip(fields[0::2], (int(v) for v in fields[1::2])))
    return (values["received"], values["lost"], values["elapsed_ns"], values["p50_ns"],
            values["p99_ns"])


# ---- One relay's turn -------------------------------------------------------------------

class Relay:
    def __init__(self, name, argv, env, any_exit=False):
        self.name, self.argv, self.env = name, argv, env
        # Under Wine a program ended by SIGTERM reports no status of its own.
        self.any_exit = any_exit

    def start(self):
        return harness.Program(RELAY_PREFIX + self.argv, self.env)


def wait_ready(program, remote, endpoint, started, timeout=10.0):
    """Seconds from `started` until a probe came through; probes go out
    every millisecond."""
    deadline = started + timeout
    while time.perf_counter() < deadline:
        if not program.alive():
            raise RuntimeError("%s ended: %s" % (program.command[0], program.error_output()))
        remote.send(b"<ready/>")
        got = endpoint.receive(0.001)
        if got is not None:
            ready = time.perf_counter() - started
            endpoint.drain(0.2)
            return ready
    raise RuntimeError("%s relayed nothing within %.0f s" % (program.command[0], timeout))


def stop_relay(relay, program):
    code = program.stop(10)
    # socat ends with 143 on SIGTERM.
    if not relay.any_exit and code not in (0, -signal.SIGTERM, 128 + signal.SIGTERM):
        raise RuntimeError("%s ended with %s: %s" % (relay.name, code, program.error_output()))


def measure_idle(program, args, result):
    """After a second's rest, the idle CPU and wake-ups over --idle seconds,
    the threads and the memory; into `result`."""
    time.sleep(1.0)
    cpu0, sw0 = cpu_and_switches(program.pid)
    t0 = time.perf_counter()
    time.sleep(args.idle)
    cpu1, sw1 = cpu_and_switches(program.pid)
    seconds = time.perf_counter() - t0
    result["idle_cpu_us_per_s"] = (cpu1 - cpu0) / 1000 / seconds
    result["idle_wakeups_per_s"] = (sw1 - sw0) / seconds
    result["threads"] = thread_count(program.pid)
    for key, value in memory_kib(program.pid).items():
        result["idle_%s_kib" % key] = value


def measure_mode(program, remote, endpoint, args, numbers, mode, size, result):
    """One run of `mode` at `size` against the running relay; into `result`."""
    count = args.count[mode]
    cpu0, sw0 = cpu_and_switches(program.pid)
    drops0 = udp_receive_buffer_drops()
    received, lost, elapsed, p50, p99 = run_load(
        args.load, remote, endpoint, mode, size, numbers.take(count), count, args.budget)
    cpu1, sw1 = cpu_and_switches(program.pid)
    key = "%s_%d" % (mode, size)
    result[key + "_per_s"] = received / (elapsed / 1e9)
    result[key + "_p50_us"] = p50 / 1000 if received else float("nan")
    result[key + "_p99_us"] = p99 / 1000 if received else float("nan")
    result[key + "_lost"] = lost
    result[key + "_buffer_drops"] = udp_receive_buffer_drops() - drops0
    result[key + "_cpu_us"] = (cpu1 - cpu0) / 1000 / max(1, received)
    result[key + "_switches"] = (sw1 - sw0) / max(1, received)
    endpoint.drain(0.05)


def one_turn(relay, remote, endpoint, args, perf_file=None):
    result = {}
    started = time.perf_counter()
    program = relay.start()
    profiler = None
    try:
        result["ready_ms"] = wait_ready(program, remote, endpoint, started,
                                        args.ready_timeout) * 1000
        measure_idle(program, args, result)
        if perf_file:
            profiler = subprocess.Popen(
                ["perf", "record", "-q", "-g", "-o", perf_file, "-p", str(program.pid)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        numbers = Numbering()
        # Warm-up: caches, the allocator and the scheduler settle; not counted.
        for size in args.sizes:
            if args.warmup:
                run_load(args.load, remote, endpoint, "closed", size, numbers.take(args.warmup),
                         args.warmup, args.budget)
                endpoint.drain(0.05)
        for mode in args.modes:
            for size in args.sizes:
                measure_mode(program, remote, endpoint, args, numbers, mode, size, result)
        if profiler is not None:
            profiler.send_signal(signal.SIGINT)
            profiler.wait(60)
            profiler = None
        time.sleep(0.5)
        for key, value in memory_kib(program.pid).items():
            result["after_%s_kib" % key] = value
        stop_relay(relay, program)
    finally:
        if profiler is not None:
            profiler.kill()
            profiler.wait()
        if program.alive():
            program.stop(5)
        program.close()
    return result


# ---- The table ------------------------------------------------------------------------

def rows(args):
    """(key, label, format, direction): direction +1 when more is better."""
    out = [("ready_ms", "start to ready, ms", "%.1f", -1)]
    for mode in args.modes:
        for size in args.sizes:
            key = "%s_%d" % (mode, size)
            label = {"closed": "closed loop", "window": "window of %d" % WINDOW,
                     "paced": "paced %d/s" % PACE_PER_SECOND}[mode]
            if mode != "paced":
                out.append((key + "_per_s", "%s, %d B: commands/s" % (label, size), "%.0f", 1))
            out.append((key + "_p50_us", "%s, %d B: p50 latency, us" % (label, size), "%.0f", -1))
            out.append((key + "_p99_us", "%s, %d B: p99 latency, us" % (label, size), "%.0f", -1))
            out.append((key + "_lost", "%s, %d B: lost" % (label, size), "%d", -1))
            out.append((key + "_buffer_drops",
                        "%s, %d B: dropped by the kernel, receive buffer full" % (label, size),
                        "%d", -1))
            out.append((key + "_cpu_us", "%s, %d B: relay CPU per command, us" % (label, size),
                        "%.1f", -1))
            out.append((key + "_switches",
                        "%s, %d B: relay context switches per command" % (label, size), "%.2f",
                        -1))
    out += [
        ("idle_cpu_us_per_s", "idle: CPU, us per s", "%.0f", -1),
        ("idle_wakeups_per_s", "idle: wake-ups per s", "%.1f", -1),
        ("threads", "threads", "%d", -1),
        ("idle_rss_kib", "idle: RSS, KiB", "%d", -1),
        ("idle_private_kib", "idle: private (Private_Dirty), KiB", "%d", -1),
        ("after_rss_kib", "after the load: RSS, KiB", "%d", -1),
        ("after_private_kib", "after the load: private, KiB", "%d", -1),
    ]
    return out


def medians(turns):
    keys = turns[0].keys()
    return {k: statistics.median(t[k] for t in turns) for k in keys}


def render(table_rows, summary, names, markdown, base="socat"):
    """The table: a column per relay, then each other relay's ratio to `base`."""
    headers = ["", *[TITLES[n] for n in names]]
    others = [n for n in names if n != base]
    if base in names:
        headers += ["%s / %s" % (TITLES[n], TITLES[base]) for n in others]
    lines = []
    for key, label, fmt, _ in table_rows:
        cells = [label]
        for n in names:
            value = summary[n].get(key)
            cells.append("-" if value is None else fmt % value)
        if base in names:
            reference = summary[base].get(key)
            for n in others:
                value = summary[n].get(key)
                if value is None or not reference:
                    cells.append("-")
                else:
                    cells.append("%.2f" % (value / reference))
        lines.append(cells)
    return table_text(headers, lines, markdown)


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d CPUs, Linux %s" % (model, os.cpu_count(), platform.release())


def setting(args):
    pin = ("the load on CPU %s, the relay on CPU %s" % tuple(args.pin.split(":", 1))
           if args.pin and args.pin != "none" else "no pinning")
    queue = ("; endpoint queue %d" % args.unix_queue) if not args.windows else ""
    return "%s; MTU %d%s" % (pin, args.mtu, queue)


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


# ---- Main -------------------------------------------------------------------------------

def make_relays(args, runtime_dir, endpoint_path):
    build = os.path.abspath(args.build)
    env = harness.relay_env(runtime_dir, extra={"QT_QPA_PLATFORM": "offscreen"})
    relays = {
        "ostrivane": Relay("ostrivane", [args.ostrivane or os.path.join(build, "app", "ostrivane")],
                           env),
        "socat": Relay("socat", ["socat", "-u",
                                 "UDP4-RECV:%d,ip-add-membership=%s:%s" % (PORT, GROUP, HOST_ADDR),
                                 "UNIX-SENDTO:%s" % endpoint_path], env),
        "minimal": Relay("minimal", [os.path.join(build, "bench", "minimal-relay"), HOST_ADDR,
                                     endpoint_path], env),
    }
    for name, path in args.variant:
        relays[name] = Relay(name, [os.path.abspath(path)], env)
    return [relays[n] for n in args.relays]


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "linux"))
    parser.add_argument("--ostrivane", help="the relay program (default: in --build)")
    parser.add_argument("--variant", action="append", default=[], metavar="NAME=PATH",
                        help="another build of the relay, measured as the relay NAME "
                             "(name it in --relays too)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--order", choices=("slices", "turns"), default="slices",
                        help="slices (default): per mode and size, the relays one after "
                             "the other, each started for its slice; turns: each relay's "
                             "whole turn at once (with --perf, always turns)")
    parser.add_argument("--warmup", type=int, default=500,
                        help="commands in closed loop at each size before each turn's load, "
                             "not counted (default: %(default)s)")
    parser.add_argument("--load", help="the load program, relay-load (default: in --build, "
                                       "or in build/release with --windows)")
    parser.add_argument("--relays", default="ostrivane,socat,minimal",
                        help="which relays, in turn order (default: %(default)s)")
    parser.add_argument("--modes", default=",".join(MODES))
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    parser.add_argument("--closed", type=int, default=20000, help="commands in closed loop")
    parser.add_argument("--window", type=int, default=60000, help="commands in the window mode")
    parser.add_argument("--paced", type=int, default=3000, help="commands at 1000/s")
    parser.add_argument("--budget", type=float, default=10.0,
                        help="seconds after which a closed loop or window run sends no more")
    parser.add_argument("--ready-timeout", type=float, default=10.0,
                        help="seconds a relay may take to relay its first datagram")
    parser.add_argument("--idle", type=float, default=5.0, help="seconds of idle measurement")
    parser.add_argument("--windows", action="store_true",
                        help="the Windows build (--build build/windows) under Wine: "
                             "Ostrivane.exe and the minimal relay")
    parser.add_argument("--mtu", type=int, default=BENCH_MTU,
                        help="the veth pair's MTU (default: %(default)s, so that no command "
                             "is fragmented; 1500 for a LAN's)")
    parser.add_argument("--unix-queue", type=int, default=BENCH_UNIX_QUEUE,
                        help="datagrams a Unix socket may queue, for the endpoint (default: "
                             "%(default)s; Linux's own default is 10)")
    parser.add_argument("--pin", metavar="LOAD:RELAY|none",
                        help="CPUs for the load and for the relay, as taskset takes them "
                             "(default on Linux with two CPUs or more: the first CPU for the "
                             "load, the last for the relay; none: no pinning)")
    parser.add_argument("--markdown", action="store_true", help="the table in Markdown")
    parser.add_argument("--json", help="write every turn's figures to this file")
    parser.add_argument("--perf", metavar="PREFIX",
                        help="perf record -g each relay's load of the first round into "
                             "PREFIX-<relay>.data")
    args = parser.parse_args()
    if args.windows:
        if args.relays == "ostrivane,socat,minimal":
            args.relays = ",".join(WINDOWS_RELAYS)
        if args.build == parser.get_default("build"):
            args.build = os.path.join(HERE, "..", "build", "windows")
    if args.load is None:
        build = args.build if not args.windows else os.path.join(HERE, "..", "build", "release")
        args.load = os.path.join(build, "bench", "relay-load")
    args.load = os.path.abspath(args.load)
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")
    args.relays = [r for r in args.relays.split(",") if r]
    args.modes = [m for m in args.modes.split(",") if m]
    args.sizes = [int(s) for s in args.sizes.split(",") if s]
    if args.pin is None and not args.windows and (os.cpu_count() or 1) >= 2:
        args.pin = "0:%d" % ((os.cpu_count() or 1) - 1)
    if args.pin and args.pin != "none":
        if ":" not in args.pin:
            parser.error("--pin takes LOAD:RELAY, e.g. 0:1, or none")
        load_cpus, relay_cpus = args.pin.split(":", 1)
        LOAD_PREFIX[:] = ["taskset", "-c", load_cpus]
        RELAY_PREFIX[:] = ["taskset", "-c", relay_cpus]
    if args.perf:
        args.order = "turns"
    args.count = {"closed": args.closed, "window": args.window, "paced": args.paced}
    args.variant = [tuple(v.split("=", 1)) for v in args.variant]
    for name, _ in args.variant:
        TITLES[name] = name
    known = WINDOWS_RELAYS if args.windows else RELAY_NAMES
    for r in args.relays:
        if r not in known and r not in dict(args.variant):
            parser.error("unknown relay %s" % r)
    for m in args.modes:
        if m not in MODES:
            parser.error("unknown mode %s" % m)
    return args


def load_slice(relay, remote, endpoint, args, numbers, mode, size, result, last):
    """One run of `mode` at `size` with `relay` started for it alone: start,
    the first datagram through, a warm-up at that size, the run; into
    `result`. After the round's `last` slice the memory is read too."""
    started = time.perf_counter()
    program = relay.start()
    try:
        wait_ready(program, remote, endpoint, started, args.ready_timeout)
        if args.warmup:
            run_load(args.load, remote, endpoint, "closed", size, numbers.take(args.warmup),
                     args.warmup, args.budget)
            endpoint.drain(0.05)
        measure_mode(program, remote, endpoint, args, numbers, mode, size, result)
        if last:
            time.sleep(0.5)
            for name, value in memory_kib(program.pid).items():
                result["after_%s_kib" % name] = value
        stop_relay(relay, program)
    finally:
        if program.alive():
            program.stop(5)
        program.close()


def idle_turn(relay, remote, endpoint, args, result):
    """Start to ready, then the idle figures, with the relay started for them."""
    started = time.perf_counter()
    program = relay.start()
    try:
        result["ready_ms"] = wait_ready(program, remote, endpoint, started,
                                        args.ready_timeout) * 1000
        measure_idle(program, args, result)
        stop_relay(relay, program)
    finally:
        if program.alive():
            program.stop(5)
        program.close()


def run_rounds_by_slice(args, relays, remote, endpoint):
    """Round after round: each relay's idle turn, then per mode and size one
    slice per relay, back to back, in an order that turns from slice to
    slice, so that a spell in which the machine runs slow for some seconds
    meets the relays of a slice alike; the figures by relay name."""
    turns = {relay.name: [] for relay in relays}
    slices = [(mode, size) for mode in args.modes for size in args.sizes]
    for round_number in range(args.rounds):
        results = {relay.name: {} for relay in relays}
        numbers = Numbering()
        order = relays if round_number % 2 == 0 else list(reversed(relays))
        for relay in order:
            idle_turn(relay, remote, endpoint, args, results[relay.name])
        for i, (mode, size) in enumerate(slices):
            shift = (round_number + i) % len(relays)
            for relay in relays[shift:] + relays[:shift]:
                load_slice(relay, remote, endpoint, args, numbers, mode, size,
                           results[relay.name], last=(i == len(slices) - 1))
        for relay in relays:
            r = results[relay.name]
            turns[relay.name].append(r)
            brief = ", ".join("%s %.0f" % (k, r[k]) for k in r
                              if k.endswith("_per_s") and k.startswith(("closed", "window")))
            print("round %d %-9s ready %.1f ms, %s (load %s)"
                  % (round_number + 1, relay.name, r["ready_ms"], brief, load()))
        sys.stdout.flush()
    return turns


def run_rounds(args, relays, remote, endpoint):
    """Every relay's turns, round after round, the order reversed every
    other round; the figures by relay name."""
    if args.order == "slices":
        return run_rounds_by_slice(args, relays, remote, endpoint)
    turns = {relay.name: [] for relay in relays}
    for round_number in range(args.rounds):
        order = relays if round_number % 2 == 0 else list(reversed(relays))
        for relay in order:
            perf_file = None
            if args.perf and round_number == 0:
                perf_file = "%s-%s.data" % (args.perf, relay.name)
            r = one_turn(relay, remote, endpoint, args, perf_file)
            turns[relay.name].append(r)
            brief = ", ".join("%s %.0f" % (k, r[k]) for k in r
                              if k.endswith("_per_s") and k.startswith(("closed", "window")))
            print("round %d %-9s ready %.1f ms, %s (load %s)"
                  % (round_number + 1, relay.name, r["ready_ms"], brief, load()))
            sys.stdout.flush()
    return turns


def floor_checks(args):
    """(key, label, direction) of the figures in which the floor must come
    out at least as fast as the base: +1 when more is faster."""
    checks = []
    for mode in args.modes:
        for size in args.sizes:
            key = "%s_%d" % (mode, size)
            if mode == "paced":
                checks.append((key + "_p50_us", "paced, %d B: p50" % size, -1))
            else:
                checks.append((key + "_per_s", "%s, %d B: commands/s" % (mode, size), 1))
    return checks


def invalid_rounds(args, turns, floor, base):
    """{round index: reasons} of the rounds in which the floor was slower
    than the base in some mode."""
    invalid = {}
    if floor not in turns or base not in turns:
        return invalid
    for i, (f, b) in enumerate(zip(turns[floor], turns[base])):
        for key, label, direction in floor_checks(args):
            if not f.get(key) or not b.get(key):
                continue
            ratio = f[key] / b[key]
            if (direction > 0 and ratio < 1) or (direction < 0 and ratio > 1):
                invalid.setdefault(i, []).append("%s %.2f" % (label, ratio))
    return invalid


def spread_table(args, turns, names, valid, markdown, base):
    """Each relay's per-round ratio to the base over the valid rounds:
    median (min-max), and the floor's largest departure from its median."""
    headers = ["ratio to %s, per round" % TITLES[base]]
    others = [n for n in names if n != base]
    headers += [TITLES[n] for n in others]
    lines = []
    for key, label, fmt, _ in rows(args):
        if not key.endswith(("_per_s", "_p50_us")) or key.startswith("idle"):
            continue
        cells = [label]
        for n in others:
            ratios = [turns[n][i][key] / turns[base][i][key] for i in valid
                      if turns[base][i].get(key) and turns[n][i].get(key) is not None]
            if not ratios:
                cells.append("-")
                continue
            middle = statistics.median(ratios)
            cell = "%.2f (%.2f-%.2f)" % (middle, min(ratios), max(ratios))
            if middle:
                cell += " ±%.0f%%" % (100 * max(abs(r / middle - 1) for r in ratios))
            cells.append(cell)
        lines.append(cells)
    return table_text(headers, lines, markdown)


def table_text(headers, lines, markdown):
    if markdown:
        out = ["| " + " | ".join(headers) + " |",
               "|" + "|".join(["---"] + ["---:"] * (len(headers) - 1)) + "|"]
        out += ["| " + " | ".join(c) + " |" for c in lines]
        return "\n".join(out)
    widths = [max(len(str(r[i])) for r in [headers] + lines) for i in range(len(headers))]
    out = []
    for r in [headers] + lines:
        out.append("  ".join(str(c).ljust(widths[0]) if i == 0 else str(c).rjust(widths[i])
                             for i, c in enumerate(r)))
    return "\n".join(out)


def report(args, turns, names, base="socat", floor="minimal"):
    print("load at the end: %s" % load())
    invalid = invalid_rounds(args, turns, floor, base)
    valid = [i for i in range(args.rounds) if i not in invalid]
    print()
    for i, reasons in sorted(invalid.items()):
        print("round %d invalid: the floor (%s) was slower than %s: %s"
              % (i + 1, TITLES[floor], TITLES[base], ", ".join(reasons)))
    if floor in turns and base in turns:
        print("valid rounds: %d of %d" % (len(valid), args.rounds))
    if not valid:
        print("no valid round: the figures below are of all rounds and say little")
        valid = list(range(args.rounds))
    summary = {n: medians([t[i] for i in valid]) for n, t in turns.items()}
    print()
    print("median of %d rounds:" % len(valid))
    print(render(rows(args), summary, names, args.markdown, base))
    # Load drifts while a run lasts: the relays of one round met the same
    # load, so their ratios round by round say more than the medians do.
    if base in turns and args.rounds > 1:
        print()
        print(spread_table(args, turns, names, valid, args.markdown, base))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": machine(), "setting": setting(args), "turns": turns,
                       "summary": summary,
                       "invalid_rounds": {str(i + 1): r for i, r in invalid.items()}},
                      f, indent=1)


def set_mtu(mtu):
    for name in (harness.HOST_IF, harness.PEER_IF):
        subprocess.run(["ip", "link", "set", "dev", name, "mtu", str(mtu)], check=True)


def set_unix_queue(length):
    """The namespace's limit of datagrams queued at a Unix socket."""
    with open("/proc/sys/net/unix/max_dgram_qlen", "w") as f:
        f.write(str(length))


def main_linux(args):
    harness.enter_own_namespace("OSTRIVANE_RELAY_BENCH_NS")
    harness.make_veth_pair()
    set_mtu(args.mtu)
    set_unix_queue(args.unix_queue)
    print("machine: %s" % machine())
    print("setting: %s" % setting(args))
    print("load at the start: %s" % load())
    sys.stdout.flush()
    with tempfile.TemporaryDirectory(prefix="ostrivane-bench-") as runtime_dir:
        os.chmod(runtime_dir, 0o700)
        path = harness.slot_path(runtime_dir)
        endpoint = Endpoint(path=path)
        remote = Remote()
        try:
            turns = run_rounds(args, make_relays(args, runtime_dir, path), remote, endpoint)
        finally:
            remote.close()
            endpoint.close()
    report(args, turns, args.relays)
    return 0


# ---- Windows relays under Wine -------------------------------------------------------------

# The loopback port where slot-bridge.exe hands the slot's messages on.
BRIDGE_PORT = 19152
WINDOWS_RELAYS = ("ostrivane.exe", "minimal.exe")


def main_windows(args):
    """The relay modes against Ostrivane.exe and the minimal relay built for
    Windows, both under Wine, in a namespace whose Wine server is its own.
    slot-bridge.exe owns the mailslot and hands each message on over
    loopback UDP, for both relays alike."""
    import ostrivane_wine as wine
    build = os.path.abspath(args.build)
    exe = {"ostrivane.exe": os.path.join(build, "app", "Ostrivane.exe"),
           "minimal.exe": os.path.join(build, "bench", "minimal-relay.exe"),
           "bridge": os.path.join(build, "bench", "slot-bridge.exe")}
    harness.enter_own_namespace("OSTRIVANE_RELAY_BENCH_WIN32_NS", unshare=wine.NAMESPACE)
    wine.private_server_dir()
    harness.make_veth_pair()
    set_mtu(args.mtu)
    print("machine: %s" % machine())
    print("setting: %s" % setting(args))
    print("Wine: %s" % subprocess.run([wine.WINE, "--version"], capture_output=True,
                                      text=True).stdout.strip())
    print("load at the start: %s" % load())
    sys.stdout.flush()
    display = harness.XServer()
    try:
        with tempfile.TemporaryDirectory(prefix="ostrivane-bench-") as folder:
            with wine.WinePrefix(os.path.join(folder, "prefix"), display=display.name) as prefix:
                endpoint = Endpoint(port=BRIDGE_PORT)
                remote = Remote()
                bridge = prefix.start(exe["bridge"], str(BRIDGE_PORT))
                try:
                    if not bridge.wait_ready(lambda: "ready" in bridge.error_output(), 60):
                        raise RuntimeError("slot-bridge.exe: %s" % bridge.error_output())
                    relays = [
                        Relay("ostrivane.exe", prefix.command(exe["ostrivane.exe"]), prefix.env,
                              any_exit=True),
                        Relay("minimal.exe", prefix.command(exe["minimal.exe"], HOST_ADDR,
                                                            harness.SLOT),
                              prefix.env, any_exit=True),
                    ]
                    for name, path in args.variant:
                        relays.append(Relay(name, prefix.command(os.path.abspath(path)),
                                            prefix.env, any_exit=True))
                    relays = [r for r in relays if r.name in args.relays]
                    turns = run_rounds(args, relays, remote, endpoint)
                finally:
                    bridge.stop(5)
                    bridge.close()
                    remote.close()
                    endpoint.close()
    finally:
        display.stop()
    report(args, turns, args.relays, base="minimal.exe", floor=None)
    return 0


def main():
    args = parse_args()
    return main_windows(args) if args.windows else main_linux(args)


if __name__ == "__main__":
    sys.exit(main())
