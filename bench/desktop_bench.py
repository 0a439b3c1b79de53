#!/usr/bin/env python3
"""Start-up time, resident memory and CPU time of the real program on an X
desktop (Xvfb, openbox, trayer), run inside network namespaces that
run_benchmarks.sh made, beside ifstat and nload watching the same interface.

Prints figures only; it judges nothing.
"""

import argparse
import fcntl
import os
import pty
import statistics
import struct
import subprocess
import sys
import termios
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from tray_desktop import Desktop, wait_for, write_settings  # noqa: E402


def cpu_ns(pid):
    """On-CPU time of every thread of the process, in nanoseconds."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except OSError:
            pass  # a thread that ended meanwhile
    return total


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def drain(stream):
    def run():
        try:
            while os.read(stream, 4096):
                pass
        except OSError:
            pass
    threading.Thread(target=run, daemon=True).start()


def in_ns(ns, args):
    return ["ip", "netns", "exec", ns] + args


def startup_times(d, program, ns, runs):
    """Seconds from starting the process to the first paint of the window."""
    env = dict(d.env, ZARN_REPORT_SHOWN="1")
    times = []
    for _ in range(runs):
        started = time.monotonic()
        p = subprocess.Popen(in_ns(ns, [program]), env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
        line = p.stdout.readline().split()
        p.wait(10)
        if len(line) == 2 and line[0] == "shown":
            times.append(float(line[1]) - started)
    return times


def namespace_entry(d, ns, runs):
    """What `ip netns exec` itself costs before the program starts."""
    times = []
    for _ in range(runs):
        started = time.monotonic()
        subprocess.run(in_ns(ns, ["true"]), env=d.env, check=True)
        times.append(time.monotonic() - started)
    return times


def start_nload(ns, interval_ms, interface, env):
    # nload draws on a terminal: give it a pseudo-terminal of its own and
    # throw away what it draws.
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 30, 100, 0, 0))
    p = subprocess.Popen(in_ns(ns, ["nload", "-t", str(interval_ms), interface]),
                         stdin=slave, stdout=slave, stderr=slave,
                         env=dict(env, TERM="xterm"), start_new_session=True)
    os.close(slave)
    drain(master)
    return p


def cpu_per_minute(procs, seconds):
    """Milliseconds of CPU per minute of each process over the next seconds."""
    before = {name: cpu_ns(p.pid) for name, p in procs.items()}
    time.sleep(seconds)
    after = {name: cpu_ns(p.pid) for name, p in procs.items()}
    for name, p in procs.items():
        if p.poll() is not None:
            raise RuntimeError("%s ended early" % name)
    return {name: (after[name] - before[name]) / 1e6 * 60.0 / seconds for name in procs}


def cpu_comparison(d, program, ns, seconds, interval_ms, interface):
    # lo is index 1 in every namespace.
    write_settings(d, ["Adapter=1", "UpdateFrequency=%d" % interval_ms])
    procs = {}
    procs["zarn-bandwidth"] = subprocess.Popen(in_ns(ns, [program]), env=d.env,
                                               stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL)
    r, w = os.pipe()
    procs["ifstat"] = subprocess.Popen(in_ns(ns, ["ifstat", "-i", interface,
                                                  "%.1f" % (interval_ms / 1000.0)]),
                                       stdout=w, stderr=subprocess.DEVNULL, env=d.env)
    os.close(w)
    drain(r)
    procs["nload"] = start_nload(ns, interval_ms, interface, d.env)
    try:
        wait_for(d.docked_icon, 15, "the icon in trayer's panel")
        time.sleep(3)  # past start-up: the figures are for the steady state
        startup_rss = rss_kb(procs["zarn-bandwidth"].pid)
        per_minute = cpu_per_minute(procs, seconds)
        rss = {name: rss_kb(p.pid) for name, p in procs.items()}
    finally:
        for p in procs.values():
            d.stop(p)
    return per_minute, rss, startup_rss


def windows_of(d, pid, title):
    out = d.run(["xdotool", "search", "--all", "--onlyvisible", "--pid", str(pid), "--name",
                 "^%s$" % title])
    return [int(w) for w in out.split()]


def usage_cpu(d, program, ns, seconds, interval_ms):
    """Three copies of the program side by side, each with its main window
    shown: one without the Usage window, one with it shown on the live
    graph, one whose Usage window was opened and closed again."""
    write_settings(d, ["Adapter=1", "UpdateFrequency=%d" % interval_ms,
                       "UsageWindowLeft=250", "UsageWindowTop=320"])
    cases = [("main window only", []), ("Usage window shown", ["--show-usage"]),
             ("Usage window hidden", ["--show-usage"])]
    procs = {}
    for name, extra in cases:
        procs[name] = subprocess.Popen(in_ns(ns, [program] + extra), env=d.env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for place, (name, extra) in enumerate(cases):
            pid = procs[name].pid
            main = wait_for(lambda: windows_of(d, pid, "Bandwidth Monitor"), 15,
                            "the main window of " + name)[0]
            d.run(["xdotool", "windowmove", str(main), str(place * 340), "30"])
            if extra:
                usage = wait_for(lambda: windows_of(d, pid, "Usage"), 15,
                                 "the Usage window of " + name)
                if name.endswith("hidden"):
                    # Closed the way a user closes it: the window manager's Alt+F4.
                    d.run(["xdotool", "windowactivate", "--sync", str(usage[0]), "key", "alt+F4"])
                    wait_for(lambda: not any(d.viewable(w) for w in usage), 10,
                             "the Usage window to close")
        time.sleep(3)
        return cpu_per_minute(procs, seconds)
    finally:
        for p in procs.values():
            d.stop(p)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--startup", nargs=2, action="append", metavar=("NAMESPACE", "COUNT"),
                        default=[], help="measure start-up in this namespace")
    parser.add_argument("--cpu", nargs=2, action="append", metavar=("NAMESPACE", "COUNT"),
                        default=[], help="measure CPU time in this namespace")
    parser.add_argument("--usage", metavar="NAMESPACE", action="append", default=[],
                        help="CPU with the Usage window shown and hidden, in this namespace")
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--interval", type=int, default=300)
    parser.add_argument("--interface", default="lo")
    args = parser.parse_args()

    d = Desktop(None)
    try:
        if not d.start_x():
            print("no X server could start")
            return 1
        d.start_desktop()
        write_settings(d, ["Adapter=1"])
        for ns, count in args.startup:
            entry = statistics.median(namespace_entry(d, ns, args.runs))
            times = startup_times(d, args.program, ns, args.runs)
            if not times:
                print("start-up, %s interfaces: the program reported no first paint" % count)
                continue
            median = statistics.median(times)
            print("start-up to first paint, %5s interfaces: median %6.1f ms over %d runs "
                  "(min %.1f, max %.1f); without the %.1f ms of `ip netns exec`: %.1f ms"
                  % (count, median * 1e3, len(times), min(times) * 1e3, max(times) * 1e3,
                     entry * 1e3, (median - entry) * 1e3))
        for ns, count in args.cpu:
            per_minute, rss, startup_rss = cpu_comparison(d, args.program, ns, args.seconds,
                                                          args.interval, args.interface)
            print("CPU over %.0f s at %d ms watching %s, %s interfaces present:"
                  % (args.seconds, args.interval, args.interface, count))
            for name in ("zarn-bandwidth", "ifstat", "nload"):
                print("  %-15s %8.1f ms CPU per minute   resident %6.1f MB"
                      % (name, per_minute[name], rss[name] / 1024.0))
            print("  zarn-bandwidth resident 3 s after start-up: %.1f MB" % (startup_rss / 1024.0))
        for ns in args.usage:
            per_minute = usage_cpu(d, args.program, ns, args.seconds, args.interval)
            print("CPU over %.0f s at %d ms, three copies side by side, main windows shown:"
                  % (args.seconds, args.interval))
            for name, ms in per_minute.items():
                print("  %-22s %8.1f ms CPU per minute" % (name, ms))
    finally:
        d.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
