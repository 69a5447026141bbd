#!/usr/bin/env python3
"""Measures relays side by side in one run: Ostrivane, socat and the
minimal one-thread relay (bench/minimal_relay.cpp, the floor).

Everything runs in a network namespace that the script makes for itself
(unshare --net --map-root-user) with a veth pair inside: remote datagrams
leave the peer end (multicast loop-back off) for the group 224.0.0.1 on port
19151, the relay joins the group on the other end, and the script reads what
it relays at the endpoint, a Unix datagram socket where the presentation
application's slot would be. Nothing leaves the namespace.

The relays take turns, in rounds. Each turn:
  ready       start of the process until the first relayed datagram (a
              probe is sent every millisecond)
  idle        after a second's rest, over --idle seconds: CPU time (all
              threads, from schedstat), wake-ups (context switches) per
              second, then VmRSS and the private memory (Private_Dirty of
              smaps_rollup)
  closed      closed loop: one command in flight, the next sent when it has
              arrived
  window      64 commands in flight, one more sent per arrival
  paced       1000 commands a second, each sent on time
each with 100-byte and 8000-byte commands (the text after the header), giving
the commands relayed per second, the p50 and p99 latency from send to
arrival, the datagrams lost, and the relay's CPU time and context switches per command; then the
memory again, after the load. The table shows the median over the rounds
and each relay's ratio to socat.

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

Usage: bench/relay_bench.py [--build build/linux] [--rounds 3] [--markdown]
       bench/relay_bench.py --windows [--build build/windows]
       scripts/bench builds what it needs and runs this (--windows too).
"""
import argparse
import json
import os
import platform
import re
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
RELAY_NAMES = ("ostrivane", "socat", "minimal")
TITLES = {"ostrivane": "Ostrivane", "socat": "socat", "minimal": "minimal relay",
          "ostrivane.exe": "Ostrivane.exe (Wine)", "minimal.exe": "minimal relay .exe (Wine)"}

_NUMBER = re.compile(rb'n="(\d{9})"')


def command(seq, size):
    """The command text numbered `seq`, `size` bytes of ASCII."""
    head = b'<c n="%09d">' % seq
    return head + b"x" * (size - len(head))


def sequence_of(message):
    found = _NUMBER.search(message, 0, 64)
    return int(found.group(1)) if found else None


def percentile(values, fraction):
    if not values:
        return float("nan")
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(fraction * (len(ordered) - 1)))))
    return ordered[index]


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
    """The sender on the peer end of the veth pair."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF,
                             socket.inet_aton(PEER_ADDR))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
        self.address = (GROUP, PORT)

    def send(self, payload):
        # Only ever inside the namespace made by enter_own_namespace().
        if not harness.inside_own_namespace():
            raise RuntimeError("sending outside a namespace of our own")
        self.sock.sendto(HEADER + payload, self.address)

    def close(self):
        self.sock.close()


# ---- The load -------------------------------------------------------------------------

class Numbering:
    """Sequence numbers of one relay's turn, so that a late arrival from an
    earlier mode is never taken for one of the current mode."""

    def __init__(self):
        self.next = 1

    def take(self, count):
        first = self.next
        self.next += count
        return first


def run_closed(remote, endpoint, numbers, size, count, budget):
    first = numbers.take(count)
    latencies = []
    lost = 0
    started = time.perf_counter_ns()
    give_up = started + int(budget * 1e9)
    for seq in range(first, first + count):
        if time.perf_counter_ns() > give_up:
            break
        message = command(seq, size)
        sent = time.perf_counter_ns()
        remote.send(message)
        deadline = time.monotonic() + LOST_AFTER
        while True:
            got = endpoint.receive(deadline - time.monotonic())
            if got is None:
                lost += 1
                break
            if sequence_of(got[0]) == seq:
                latencies.append(got[1] - sent)
                break
    elapsed = time.perf_counter_ns() - started
    return latencies, lost, elapsed


def run_window(remote, endpoint, numbers, size, count, budget, window=WINDOW):
    first = numbers.take(count)
    end = first + count
    sent_at = {}
    latencies = []
    lost = 0
    seq = first
    started = time.perf_counter_ns()
    give_up = started + int(budget * 1e9)
    while seq < end or sent_at:
        if seq < end and time.perf_counter_ns() > give_up:
            end = seq
        while seq < end and len(sent_at) < window:
            sent_at[seq] = time.perf_counter_ns()
            remote.send(command(seq, size))
            seq += 1
        got = endpoint.receive(LOST_AFTER)
        if got is None:
            lost += len(sent_at)
            sent_at.clear()
            continue
        sent = sent_at.pop(sequence_of(got[0]), None)
        if sent is not None:
            latencies.append(got[1] - sent)
    elapsed = time.perf_counter_ns() - started
    return latencies, lost, elapsed


def run_paced(remote, endpoint, numbers, size, count, budget, rate=PACE_PER_SECOND):
    first = numbers.take(count)
    sent_at = {}
    latencies = []
    interval = 1_000_000_000 // rate

    def take(got):
        sent = sent_at.pop(sequence_of(got[0]), None)
        if sent is not None:
            latencies.append(got[1] - sent)

    started = time.perf_counter_ns()
    for i in range(count):
        due = started + i * interval
        while True:
            now = time.perf_counter_ns()
            if now >= due:
                break
            got = endpoint.receive((due - now) / 1e9)
            if got is not None:
                take(got)
        seq = first + i
        sent_at[seq] = time.perf_counter_ns()
        remote.send(command(seq, size))
    while sent_at:
        got = endpoint.receive(LOST_AFTER)
        if got is None:
            break
        take(got)
    elapsed = time.perf_counter_ns() - started
    return latencies, len(sent_at), elapsed


RUNNERS = {"closed": run_closed, "window": run_window, "paced": run_paced}


# ---- One relay's turn -------------------------------------------------------------------

class Relay:
    def __init__(self, name, argv, env, any_exit=False):
        self.name, self.argv, self.env = name, argv, env
        # Under Wine a program ended by SIGTERM reports no status of its own.
        self.any_exit = any_exit

    def start(self):
        return harness.Program(self.argv, self.env)


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


def one_turn(relay, remote, endpoint, args, perf_file=None):
    result = {}
    started = time.perf_counter()
    program = relay.start()
    profiler = None
    try:
        result["ready_ms"] = wait_ready(program, remote, endpoint, started,
                                        args.ready_timeout) * 1000
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
        if perf_file:
            profiler = subprocess.Popen(
                ["perf", "record", "-q", "-g", "-o", perf_file, "-p", str(program.pid)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.5)
        numbers = Numbering()
        for mode in args.modes:
            for size in args.sizes:
                count = args.count[mode]
                cpu0, sw0 = cpu_and_switches(program.pid)
                drops0 = udp_receive_buffer_drops()
                latencies, lost, elapsed = RUNNERS[mode](remote, endpoint, numbers, size, count,
                                                         args.budget)
                cpu1, sw1 = cpu_and_switches(program.pid)
                key = "%s_%d" % (mode, size)
                result[key + "_per_s"] = len(latencies) / (elapsed / 1e9)
                result[key + "_p50_us"] = percentile(latencies, 0.5) / 1000
                result[key + "_p99_us"] = percentile(latencies, 0.99) / 1000
                result[key + "_lost"] = lost
                result[key + "_buffer_drops"] = udp_receive_buffer_drops() - drops0
                result[key + "_cpu_us"] = (cpu1 - cpu0) / 1000 / max(1, len(latencies))
                result[key + "_switches"] = (sw1 - sw0) / max(1, len(latencies))
                endpoint.drain(0.05)
        if profiler is not None:
            profiler.send_signal(signal.SIGINT)
            profiler.wait(60)
            profiler = None
        time.sleep(0.5)
        for key, value in memory_kib(program.pid).items():
            result["after_%s_kib" % key] = value
        code = program.stop(10)
        # socat ends with 143 on SIGTERM.
        if not relay.any_exit and code not in (0, -signal.SIGTERM, 128 + signal.SIGTERM):
            raise RuntimeError("%s ended with %s: %s" % (relay.name, code,
                                                         program.error_output()))
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


def machine():
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%s, %d CPUs, Linux %s" % (model, os.cpu_count(), platform.release())


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
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--relays", default="ostrivane,socat,minimal",
                        help="which relays, in turn order (default: %(default)s)")
    parser.add_argument("--modes", default=",".join(MODES))
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    parser.add_argument("--closed", type=int, default=4000, help="commands in closed loop")
    parser.add_argument("--window", type=int, default=20000, help="commands in the window mode")
    parser.add_argument("--paced", type=int, default=2000, help="commands at 1000/s")
    parser.add_argument("--budget", type=float, default=10.0,
                        help="seconds after which a closed loop or window run sends no more")
    parser.add_argument("--ready-timeout", type=float, default=10.0,
                        help="seconds a relay may take to relay its first datagram")
    parser.add_argument("--idle", type=float, default=5.0, help="seconds of idle measurement")
    parser.add_argument("--windows", action="store_true",
                        help="the Windows build (--build build/windows) under Wine: "
                             "Ostrivane.exe and the minimal relay")
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
    args.relays = [r for r in args.relays.split(",") if r]
    args.modes = [m for m in args.modes.split(",") if m]
    args.sizes = [int(s) for s in args.sizes.split(",") if s]
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


def run_rounds(args, relays, remote, endpoint):
    """Every relay's turns, round after round; the figures by relay name."""
    turns = {relay.name: [] for relay in relays}
    for round_number in range(args.rounds):
        for relay in relays:
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


def report(args, turns, names, base="socat"):
    print("load at the end: %s" % load())
    summary = {n: medians(t) for n, t in turns.items()}
    print()
    print("median of %d rounds:" % args.rounds)
    print(render(rows(args), summary, names, args.markdown, base))
    # Load drifts while a run lasts: the relays of one round met the same
    # load, so their ratios round by round say more than the medians do.
    if base in turns and args.rounds > 1:
        print()
        print("ratio to %s round by round (the relays of a round ran one after another):"
              % TITLES[base])
        for key, label, fmt, _ in rows(args):
            if not key.endswith(("_per_s", "_p50_us")) or key.startswith("idle"):
                continue
            for n in names:
                if n == base:
                    continue
                ratios = [t[key] / b[key] for t, b in zip(turns[n], turns[base]) if b.get(key)]
                if ratios:
                    print("  %s, %s: %s" % (label, TITLES[n],
                                           " ".join("%.2f" % r for r in ratios)))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"machine": machine(), "turns": turns, "summary": summary}, f, indent=1)


def main_linux(args):
    harness.enter_own_namespace("OSTRIVANE_RELAY_BENCH_NS")
    harness.make_veth_pair()
    print("machine: %s" % machine())
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
    print("machine: %s" % machine())
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
    report(args, turns, args.relays, base="minimal.exe")
    return 0


def main():
    args = parse_args()
    return main_windows(args) if args.windows else main_linux(args)


if __name__ == "__main__":
    sys.exit(main())
