#!/usr/bin/env python3
"""Start-up time, resident memory and CPU time of the real program on an X
desktop (Xvfb, openbox, trayer), run inside network namespaces that
run_benchmarks.sh made, beside ifstat and nload watching the same interface,
and (--peers) beside the desktop's own network monitors, conky and
xfce4-panel with its netload plugin, and an empty Qt window as the floor.

Prints figures only; it judges nothing.
"""

import argparse
import fcntl
import os
import pty
import shutil
import statistics
import struct
import subprocess
import sys
import termios
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from desktop import INSTANCE, Desktop, Skip, wait_for, write_settings, xfce_panel  # noqa: E402


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
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass  # ended meanwhile
    return 0


def children_by_parent():
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        # The command name may hold blanks and brackets: fields start after
        # the last ")".
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        table.setdefault(ppid, []).append(int(entry))
    return table


def process_tree(pid):
    """The process and all its descendants (a panel's plugin wrappers)."""
    table = children_by_parent()
    tree, todo = [], [pid]
    while todo:
        p = todo.pop()
        tree.append(p)
        todo.extend(table.get(p, []))
    return tree


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


def own_settings(d, name):
    """The environment for one of several copies run side by side: a copy of
    the settings folder of its own, or a later copy would only hand its start
    to the first one."""
    home = os.path.join(d.tmp, "settings-" + name.replace(" ", "-"))
    shutil.copytree(d.env["XDG_CONFIG_HOME"], home, dirs_exist_ok=True)
    return dict(d.env, XDG_CONFIG_HOME=home)


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
        procs[name] = subprocess.Popen(in_ns(ns, [program] + extra), env=own_settings(d, name),
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
# ----- the desktop peers ---------------------------------------------------

CONKY_CONFIG = """conky.config = {
    out_to_x = true, out_to_console = false, background = false,
    own_window = true, own_window_type = 'normal', own_window_title = 'conky-bench',
    double_buffer = true, use_xft = true, font = 'DejaVu Sans:size=8',
    alignment = 'top_left', gap_x = 20, gap_y = 420, minimum_width = 220,
    update_interval = %(seconds)s, total_run_times = 0,
}
conky.text = [[
Down: ${downspeed %(interface)s}  Up: ${upspeed %(interface)s}
Received: ${totaldown %(interface)s}  Sent: ${totalup %(interface)s}
]]
"""

# conky drawing a rate graph each way: the peer for the Usage window's live
# graph. A second conky of its own, so that its cost is the graphs'.
CONKY_GRAPH_TEXT = """conky.text = [[
Down: ${downspeed %(interface)s}
${downspeedgraph %(interface)s 60,240}
Up: ${upspeed %(interface)s}
${upspeedgraph %(interface)s 60,240}
]]
"""

NETLOAD_RC = """[Settings]
Use_Label=true
Show_Values=true
Show_Bars=true
Colorize_Values=false
Values_As_Bits=false
Text=Net
Network_Device=%(interface)s
Max_In=4096
Max_Out=4096
Auto_Max=true
Update_Interval=%(interval)d
"""


class Tool:
    """One measured program: the process started, and every process it
    brings along (found by parenthood, plus the extra roots given)."""

    def __init__(self, name, proc, extra_roots=()):
        self.name = name
        self.proc = proc
        self.extra_roots = list(extra_roots)

    def pids(self):
        pids = process_tree(self.proc.pid)
        for root in self.extra_roots:
            pids += [p for p in process_tree(root) if p != root]
        return pids

    def cpu_ns(self):
        return sum(cpu_ns_quiet(p) for p in self.pids())

    def rss_kb(self):
        return sum(rss_kb(p) for p in self.pids())

    def alive(self):
        return self.proc.poll() is None


def cpu_ns_quiet(pid):
    try:
        return cpu_ns(pid)
    except OSError:
        return 0  # ended meanwhile


def start_conky(d, ns, interval_ms, interface, graphs=False):
    config = os.path.join(d.tmp, "conky-graphs.conf" if graphs else "conky.conf")
    text = CONKY_CONFIG % {"seconds": interval_ms / 1000.0, "interface": interface}
    if graphs:
        # Beside the text-only conky, not on top of it.
        text = text.replace("own_window_title = 'conky-bench'",
                            "own_window_title = 'conky-graphs'").replace("gap_x = 20", "gap_x = 300")
        text = text[:text.index("conky.text")] + CONKY_GRAPH_TEXT % {"interface": interface}
    with open(config, "w") as f:
        f.write(text)
    return d.spawn(in_ns(ns, ["conky", "-c", config]))


def start_xfce_panel(d, ns, interval_ms, interface):
    """xfce4-panel with its own session bus (its settings daemon, xfconfd,
    is started on the bus) and its own settings folder."""
    home = os.path.join(d.tmp, "xfce")
    os.makedirs(os.path.join(home, "xfce4", "panel"), exist_ok=True)
    with open(os.path.join(home, "xfce4", "panel", "netload-1.rc"), "w") as f:
        f.write(NETLOAD_RC % {"interval": interval_ms, "interface": interface})
    env = dict(d.env, XDG_CONFIG_HOME=home)
    # A socket in the file system: an abstract one would not be reachable
    # from inside the network namespace.
    bus_socket = os.path.join(d.tmp, "xfce-bus")
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                            "--address=unix:path=" + bus_socket],
                           env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           text=True)
    d.procs.append(bus)
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
    # One panel along the bottom edge holding one netload plugin. The plugin
    # is not built into the panel: it runs in a wrapper process of its own.
    panel = xfce_panel(d, ["netload"], "p=10;x=0;y=0", env, in_ns(ns, []))
    return panel, bus


def program_window(d, pid):
    out = d.run(["xdotool", "search", "--pid", str(pid), "--name", "^Bandwidth Monitor$"])
    ids = out.split()
    return int(ids[0]) if ids else None


def docked_icons(d):
    panel = d.trayer_panel()
    if not panel:
        return 0
    _, _, _, pw, ph, px, py = panel
    return sum(1 for _, _, inst, w, h, x, y in d.tree()
               if inst == INSTANCE and (w, h) == (22, 22) and px <= x < px + pw
               and py <= y < py + ph)


def start_programs(d, programs, ns, phase):
    """Starts every program to compare, the window shown side by side (or
    hidden in the tray, or hidden with the Usage window open on its live
    graph), and waits for all their tray icons."""
    procs = []
    for name, path in programs:
        args = [path] + {"shown": [], "hidden": ["-startup"], "live": ["-startup"]}[phase]
        procs.append(Tool(name, d.spawn(in_ns(ns, args), env=own_settings(d, name))))
    wait_for(lambda: docked_icons(d) >= len(procs), 20, "every program's tray icon")
    if phase == "live":
        # Opened the way the tray menu opens it, with the main window left in
        # the tray: a second start hands --show-usage to the running copy.
        # ("-startup --show-usage" in one start is not a start with the
        # session, which takes "-startup" alone, and shows the main window.)
        for name, path in programs:
            subprocess.run(in_ns(ns, [path, "--show-usage"]), env=own_settings(d, name),
                           capture_output=True, timeout=20, check=True)
    if phase == "live":
        for i, tool in enumerate(procs):
            wid = wait_for(lambda: windows_of(d, tool.proc.pid, "Usage"), 15,
                           "the Usage window")[0]
            # Two of them side by side on the 1024 pixels of the screen,
            # none covering another.
            d.run(["xdotool", "windowsize", str(wid), "500", "420"])
            d.run(["xdotool", "windowmove", str(wid), str(512 * i), "40"])
    if phase == "shown":
        for i, tool in enumerate(procs):
            wid = wait_for(lambda: program_window(d, tool.proc.pid), 10, "the main window")
            # Side by side, none covering another.
            d.run(["xdotool", "windowmove", str(wid), str(20 + 340 * i), "60"])
    return procs


def measure(tools, seconds):
    before = {t.name: t.cpu_ns() for t in tools}
    time.sleep(seconds)
    after = {t.name: t.cpu_ns() for t in tools}
    for t in tools:
        if not t.alive():
            raise RuntimeError("%s ended early" % t.name)
    return {t.name: ((after[t.name] - before[t.name]) / 1e6 * 60.0 / seconds, t.rss_kb() / 1024.0)
            for t in tools}


def peer_comparison(d, programs, floor, ns, seconds, interval_ms, interface, rounds,
                    phases=("shown", "hidden", "live")):
    """The programs beside conky, xfce4-panel with netload, ifstat and the
    floor, all at the same interval on the same interface and measured over
    the same seconds: first with the programs' windows shown, then with them
    hidden in the tray, then hidden with the Usage window open on its live
    graph (the peers show what they always show)."""
    # Thresholds above the traffic: with automatic thresholds a new highest
    # rate raises them and stores them (a settings file written and synced),
    # which is not the steady state being measured.
    write_settings(d, ["Adapter=1", "UpdateFrequency=%d" % interval_ms,
                       "ShowTrayIcon=1", "AnimateTrayIcon=1", "ShowBandwidthInTray=1",
                       "YellowThreshold=5000", "RedThreshold=10000"])
    peers = [Tool("conky", start_conky(d, ns, interval_ms, interface)),
             Tool("conky, two rate graphs 60x240", start_conky(d, ns, interval_ms, interface,
                                                              graphs=True))]
    panel, bus = start_xfce_panel(d, ns, interval_ms, interface)
    peers.append(Tool("xfce4-panel+netload", panel, extra_roots=[bus.pid]))
    peers.append(Tool("ifstat", d.spawn(in_ns(ns, ["ifstat", "-i", interface,
                                                    "%.1f" % (interval_ms / 1000.0)]))))
    # The panel shows once its plugin's wrapper process runs.
    wait_for(lambda: len(peers[2].pids()) > 1, 20, "the netload plugin's process")
    results = []
    for phase in phases:
        hidden = ["--hidden"] if phase == "hidden" else []
        for r in range(rounds):
            # Every round starts the programs anew, each time in another
            # order: Qt lines up its timers across processes, so the program
            # started first wakes with the others in a way a later one does
            # not, and that alone moved figures by a fifth.
            order = programs[r % len(programs):] + programs[:r % len(programs)]
            mine = start_programs(d, order, ns, phase)
            # The live graph is compared with conky's graphs; the floors
            # would only crowd the screen there.
            floors = [] if phase == "live" else [
                Tool("floor: empty Qt window, one timer",
                     d.spawn([floor, "--interval", str(interval_ms)] + hidden)),
                Tool("Qt window, 1 plain patch repainted per tick",
                     d.spawn([floor, "--repaint", "--interval", str(interval_ms)] + hidden)),
                Tool("Qt window, 4 labels rewritten per tick",
                     d.spawn([floor, "--labels", "--interval", str(interval_ms)] + hidden))]
            try:
                time.sleep(3)  # past start-up: the figures are for the steady state
                figures = measure(mine + floors + peers, seconds)
                results.append((phase, {name: figures[name] for name in
                                        [n for n, _ in programs] + [t.name for t in floors + peers]}))
            finally:
                for t in mine + floors:
                    d.stop(t.proc)
    for t in peers:
        d.stop(t.proc)
    d.stop(bus)
    return results


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, action="append",
                        help="PATH, or NAME=PATH; --peers compares every program given")
    parser.add_argument("--floor", help="bench_floor_window, for --peers")
    parser.add_argument("--peers", nargs=2, action="append", metavar=("NAMESPACE", "COUNT"),
                        default=[], help="measure CPU time beside conky and xfce4-panel")
    parser.add_argument("--rounds", type=int, default=1,
                        help="--peers: rounds for each window state, the programs started "
                             "anew in turn for each; medians are printed")
    parser.add_argument("--phases", default="shown,hidden,live",
                        help="--peers: the window states to measure, from shown, hidden, live")
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
    programs = [tuple(p.split("=", 1)) if "=" in p else ("zarn-bandwidth", p)
                for p in args.program]
    program = programs[0][1]

    d = Desktop(None)
    try:
        try:
            d.start_x(bus=False)
        except Skip as e:
            print(e)
            return 1
        d.start_desktop()
        write_settings(d, ["Adapter=1"])
        for ns, count in args.startup:
            entry = statistics.median(namespace_entry(d, ns, args.runs))
            times = startup_times(d, program, ns, args.runs)
            if not times:
                print("start-up, %s interfaces: the program reported no first paint" % count)
                continue
            median = statistics.median(times)
            print("start-up to first paint, %5s interfaces: median %6.1f ms over %d runs "
                  "(min %.1f, max %.1f); without the %.1f ms of `ip netns exec`: %.1f ms"
                  % (count, median * 1e3, len(times), min(times) * 1e3, max(times) * 1e3,
                     entry * 1e3, (median - entry) * 1e3))
        for ns, count in args.cpu:
            per_minute, rss, startup_rss = cpu_comparison(d, program, ns, args.seconds,
                                                          args.interval, args.interface)
            print("CPU over %.0f s at %d ms watching %s, %s interfaces present:"
                  % (args.seconds, args.interval, args.interface, count))
            for name in ("zarn-bandwidth", "ifstat", "nload"):
                print("  %-15s %8.1f ms CPU per minute   resident %6.1f MB"
                      % (name, per_minute[name], rss[name] / 1024.0))
            print("  zarn-bandwidth resident 3 s after start-up: %.1f MB" % (startup_rss / 1024.0))
        for ns in args.usage:
            per_minute = usage_cpu(d, programs[-1][1], ns, args.seconds, args.interval)
            print("CPU over %.0f s at %d ms, three copies side by side, main windows shown:"
                  % (args.seconds, args.interval))
            for name, ms in per_minute.items():
                print("  %-22s %8.1f ms CPU per minute" % (name, ms))
        for ns, count in args.peers:
            results = peer_comparison(d, programs, args.floor, ns, args.seconds, args.interval,
                                      args.interface, args.rounds,
                                      tuple(args.phases.split(",")))
            print("CPU over %.0f s at %d ms watching %s, %s interfaces present, beside the "
                  "desktop's monitors (every process of each):" % (args.seconds, args.interval,
                                                                   args.interface, count))
            for phase, figures in results:
                print("  programs' windows %s:" % {"live": "hidden, Usage window on Live"}
                      .get(phase, phase))
                for name, (cpu, rss) in figures.items():
                    print("    %-36s %8.1f ms CPU per minute   resident %6.1f MB"
                          % (name, cpu, rss))
            if args.rounds > 1:
                print("  medians over the rounds:")
                for phase in dict.fromkeys(p for p, _ in results):
                    rounds = [f for p, f in results if p == phase]
                    for name in rounds[0]:
                        print("    %-6s %-36s %8.1f ms CPU per minute" % (
                            phase, name, statistics.median(f[name][0] for f in rounds)))
    finally:
        d.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
