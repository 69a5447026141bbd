#!/usr/bin/env python3
"""Measures the Windows program Ostrivane.exe under Wine: its size, the time
from its start until it is ready, and its working set.

Like the end-to-end test, it runs in network, mount and process namespaces
of its own, with its own X server, Wine prefix and Wine server; datagrams go
only over a veth pair inside.

Each run starts lvx-slot-monitor.exe as the slot's owner, then the program,
and reports:
  bound     start until the wineserver holds the program's socket on port
            19151 (/proc/net/udp polled every 2 ms)
  relayed   start until the first command arrives at the slot (a datagram is
            sent about every 20 ms once the port is bound)
  rss       VmRSS of the program's process once it relayed, and after 1000
            more commands (with VmHWM, the peak)
  close     from running window_probe.exe, which posts WM_CLOSE to the main
            window, until the process has ended
As a yardstick, `probe` is the time Wine takes to run window_probe.exe (a
small console program) to its end.

Usage: bench/win32_program.py [--build build/windows] [--runs 5]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import ostrivane_harness as harness  # noqa: E402
import ostrivane_wine as wine  # noqa: E402
from ostrivane_harness import HEADER, PEER_ADDR  # noqa: E402

STRIP = "x86_64-w64-mingw32-strip"


def file_sizes(exe):
    """(size of the file, size without its debugging information)."""
    size = os.path.getsize(exe)
    with tempfile.TemporaryDirectory() as d:
        stripped = os.path.join(d, "stripped.exe")
        try:
            subprocess.run([STRIP, "--strip-debug", "-o", stripped, exe], check=True)
        except (OSError, subprocess.CalledProcessError):
            return size, None
        return size, os.path.getsize(stripped)


def one_run(prefix, probe, exe, monitor_exe, commands):
    result = {}
    started = time.monotonic()
    probe.code_page()
    result["probe"] = time.monotonic() - started

    monitor = wine.SlotMonitor(prefix, monitor_exe)
    try:
        if not monitor.wait_ready():
            raise RuntimeError("lvx-slot-monitor did not start")
        with harness.UdpSender(PEER_ADDR, loop=False) as out:
            started = time.monotonic()
            relay = prefix.start(exe)
            try:
                while not harness.udp_port_bound():
                    if not relay.alive() or time.monotonic() - started > 60:
                        raise RuntimeError("Ostrivane.exe did not bind its port")
                    time.sleep(0.002)
                result["bound"] = time.monotonic() - started
                # Datagrams until one comes through.
                arrived = None
                while arrived is None and time.monotonic() - started < 60:
                    out.send(HEADER + b"ready?")
                    arrived = monitor.receive(0.005)
                if arrived is None:
                    raise RuntimeError("nothing relayed within 60 s")
                result["relayed"] = time.monotonic() - started
                memory = wine.process_memory(relay.pid)
                result["rss"] = memory["VmRSS"]
                # The datagrams sent meanwhile arrive as well.
                monitor.quiet(1.0)
                delivered = 0
                for i in range(commands):
                    out.send(HEADER + b"<Remote><Action>next</Action><P>%d</P></Remote>" % i)
                    if i % 50 == 49:
                        # Now and then the program may catch up: the socket's
                        # buffer is the system's default.
                        delivered += len(monitor.receive_all(50, 30))
                delivered += len(monitor.quiet(1.0))
                result["delivered"] = delivered
                memory = wine.process_memory(relay.pid)
                result["rss_after"] = memory["VmRSS"]
                result["hwm"] = memory["VmHWM"]
                pids = probe.window_pids(wine.MAIN_FORM)
                started = time.monotonic()
                code = relay.stop(10, ask=lambda _: probe.close(wine.MAIN_FORM, pids[0]))
                result["close"] = time.monotonic() - started
                if code != 0:
                    raise RuntimeError("Ostrivane.exe ended with %d" % code)
            finally:
                if relay.alive():
                    relay.stop(5)
                relay.close()
    finally:
        monitor.close()
    return result


def main():
    parser = argparse.ArgumentParser()
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "windows"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--commands", type=int, default=1000)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    exe = os.path.join(build, "app", "Ostrivane.exe")
    probe_exe = os.path.join(build, "tests", "window_probe.exe")
    monitor_exe = os.path.join(build, "tools", "lvx-slot-monitor.exe")

    harness.enter_own_namespace("OSTRIVANE_BENCH_WIN32_NS", unshare=wine.NAMESPACE)
    wine.private_server_dir()
    harness.make_veth_pair()

    size, stripped = file_sizes(exe)
    print("Ostrivane.exe: %d bytes (%s without debugging information)"
          % (size, "%d bytes" % stripped if stripped is not None else "unknown"))

    display = harness.XServer()
    runs = []
    try:
        with tempfile.TemporaryDirectory(prefix="ostrivane-bench-") as folder:
            started = time.monotonic()
            with wine.WinePrefix(os.path.join(folder, "prefix"), display=display.name) as prefix:
                print("new Wine prefix and server: %.1f s" % (time.monotonic() - started))
                probe = wine.WindowProbe(prefix, probe_exe)
                for n in range(args.runs):
                    r = one_run(prefix, probe, exe, monitor_exe, args.commands)
                    runs.append(r)
                    print("run %d: probe %.3f s, bound %.3f s, relayed %.3f s, rss %d KiB, "
                          "after %d commands (%d delivered) rss %d KiB (peak %d KiB), close %.3f s"
                          % (n + 1, r["probe"], r["bound"], r["relayed"], r["rss"],
                             args.commands, r["delivered"], r["rss_after"], r["hwm"],
                             r["close"]))
    finally:
        display.stop()
    if runs:
        print("median of %d runs:" % len(runs))
        for key, unit in (("probe", "s"), ("bound", "s"), ("relayed", "s"), ("rss", "KiB"),
                          ("rss_after", "KiB"), ("hwm", "KiB"), ("close", "s")):
            values = [r[key] for r in runs]
            fmt = "  %-9s %.3f %s (min %.3f, max %.3f)" if unit == "s" else \
                  "  %-9s %d %s (min %d, max %d)"
            print(fmt % (key, statistics.median(values), unit, min(values), max(values)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
