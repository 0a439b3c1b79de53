#!/usr/bin/env python3
"""The Usage window on a real X desktop (Xvfb, openbox, trayer), with a real
notification server (dunst) and the accessibility bus to read what the
windows show.

As root: the program runs inside a network namespace of its own whose
veth link to a second namespace carries iperf3 traffic at a known rate. The Usage window is opened
from the tray menu; the live graph's current download rate must be within
10 % of the Monitor tab's. With a small daily data cap set in the settings
file, the cap's warning must reach dunst, read back over dunst's own D-Bus
interface (dunstctl).

Exit codes: 0 passed, 1 failed, 77 skipped. Screenshots go to --artefacts.
"""

import json
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tray_desktop import (Desktop, Failure, Skip, double_click_back, drive,  # noqa: E402
                          open_menu, python_with, run_script, step, wait_for, write_settings)

USAGE_TITLE = "Usage"
APP = "Zarn Bandwidth"
# 16 Mbit/s: 2,000,000 bytes per second each way over lo.
LOAD = "16M"
NUMBER = re.compile(r"^[0-9][0-9,]*$")


def labels(d, python):
    """(x, y, text) of every label the program shows, by the accessibility bus."""
    out = subprocess.run([python, os.path.join(os.path.dirname(__file__), "atspi_labels.py"),
                          APP], env=d.env, capture_output=True, text=True, timeout=20).stdout
    rows = []
    for line in out.splitlines():
        place, tab, text = line.partition("\t")
        if tab:
            x, y, _, _ = (int(v) for v in place.split())
            rows.append((x, y, text))
    return rows


def rates(rows):
    """The graph's download figure and the Monitor tab's download label."""
    graph = next((t for _, _, t in rows if t.startswith("Download: ")), None)
    down = next(((x, y) for x, y, t in rows if t == "Down:"), None)
    monitor = None
    if down:
        # The value box sits right of its caption, on the same line.
        beside = [(x, t) for x, y, t in rows if abs(y - down[1]) <= 6 and x > down[0]
                  and NUMBER.match(t)]
        monitor = min(beside)[1] if beside else None
    m = re.match(r"Download: ([0-9,]+) byte/sec$", graph or "")
    number = (lambda t: int(t.replace(",", ""))) if m and monitor else None
    return (number(m.group(1)), number(monitor)) if number else None


def dunst_count(d, which):
    try:
        return int(d.run(["dunstctl", "count", which]).strip())
    except ValueError:
        return 0


def dunst_history(d):
    """Summaries and bodies of what dunst received, from its D-Bus interface."""
    d.run(["dunstctl", "close-all"])
    raw = d.run(["dunstctl", "history"])
    try:
        entries = json.loads(raw)["data"][0]
    except (ValueError, KeyError, IndexError):
        return []
    return ["%s: %s" % (e["summary"]["data"], e["body"]["data"]) for e in entries]


def run_usage_session(d, program, python):
    # A veth pair between two namespaces of the test's own: the usage
    # history leaves loopbacks out, so the traffic crosses a link named for
    # the history.
    ns = "zarn-usage-%d" % os.getpid()
    peer = ns + "-peer"
    made = []
    procs = []
    try:
        for name in (ns, peer):
            if subprocess.run(["ip", "netns", "add", name], capture_output=True).returncode:
                raise Failure("'ip netns add' failed")
            made.append(name)
            subprocess.run(["ip", "-n", name, "link", "set", "lo", "up"], check=True)
        subprocess.run(["ip", "-n", ns, "link", "add", "zu0", "type", "veth", "peer", "name",
                        "zu1", "netns", peer], check=True)
        for name, link, address in ((ns, "zu0", "10.77.0.1/24"), (peer, "zu1", "10.77.0.2/24")):
            subprocess.run(["ip", "-n", name, "addr", "add", address, "dev", link], check=True)
            subprocess.run(["ip", "-n", name, "link", "set", link, "up"], check=True)
        index = subprocess.run(["ip", "-n", ns, "-o", "link", "show", "zu0"], check=True,
                               capture_output=True, text=True).stdout.split(":")[0].strip()
        procs.append(subprocess.Popen(["ip", "netns", "exec", peer, "iperf3", "-s", "-B",
                                       "10.77.0.2"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        # A daily cap of 20 MB, received and sent: the load uses it up in
        # about ten seconds.
        # Veths count only when named in HistoryInterfaces.
        write_settings(d, ["Adapter=" + index, "HistoryInterfaces=zu0", "DataCapEnabled=1",
                           "DataCapPeriod=daily",
                           "DataCapAmount=0.02", "DataCapWarnings=50 100",
                           "UsageWindowLeft=330", "UsageWindowTop=200"])
        app = d.spawn(["ip", "netns", "exec", ns, program, "-startup"])
        icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
        # Reversed: the peer sends, so the watched link downloads.
        procs.append(subprocess.Popen(
            ["ip", "netns", "exec", ns, "iperf3", "-c", "10.77.0.2", "-R", "-b", LOAD, "-l",
             "1400", "-t", "60"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

        step("the main window comes back; the Usage window opens from the tray menu")
        main = double_click_back(d, icon)
        d.run(["xdotool", "windowmove", str(main), "0", "30"])
        open_menu(d, icon, {main})
        d.keys("u")
        usage = wait_for(lambda: [w for w in d.windows_named(USAGE_TITLE) if d.viewable(w)], 5,
                         "the Usage window")[0]

        step("the graph's current rate is the Monitor tab's, within 10 %")
        time.sleep(3)
        # The two labels are read one after the other, and a tick may fall
        # between them: a few readings, one of which must agree.
        readings = []
        for _ in range(5):
            try:
                readings.append(wait_for(lambda: rates(labels(d, python)), 10,
                                         "both rates on the a11y bus"))
            except Failure:
                raise Failure("no rates among the labels: %s" % labels(d, python))
            graph, monitor = readings[-1]
            if monitor >= 1_000_000 and abs(graph - monitor) <= 0.1 * monitor:
                break
        else:
            raise Failure("graph against Monitor tab, byte/sec: %s" % readings)
        step("graph %d byte/sec, Monitor tab %d byte/sec" % (graph, monitor))
        d.screenshot("usage-graph-load.png")

        step("the data cap's warnings (50 % and 100 %) reach dunst")
        d.run(["xdotool", "windowactivate", "--sync", str(usage)])
        d.keys("alt+c")  # the "Data cap" tab, with the cap's state in words
        try:
            wait_for(lambda: dunst_count(d, "displayed") >= 2, 30, "two notifications at dunst")
        except Failure:
            shown = [t for _, _, t in labels(d, python) if "data cap" in t]
            if not any("usage history, which is off" in t for t in shown):
                raise Failure("dunst got %s; the window says %s" % (dunst_history(d), shown))
            step("cap part skipped: this build has no usage history")
        else:
            time.sleep(0.5)
            d.screenshot("usage-cap-warning.png")
            got = dunst_history(d)
            step("dunst got: %s" % got)
            if not any(n.startswith("100 % of the data cap used: ") for n in got) or \
                    not any(n.startswith("50 % of the data cap used: ") for n in got):
                raise Failure("unexpected notifications: %r" % got)
        d.stop(app)
    finally:
        for p in procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                p.wait(5)
        for name in made:
            subprocess.run(["ip", "netns", "del", name], capture_output=True)


def scenario(d, program):
    if os.geteuid() != 0:
        raise Skip("needs root for its network namespace")
    python = python_with("import pyatspi")
    launcher = "/usr/libexec/at-spi-bus-launcher"
    if not python or not os.access(launcher, os.X_OK):
        raise Skip("needs python3-pyatspi and at-spi2-core")
    d.start_x()
    d.start_session_bus()
    d.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    d.spawn([launcher, "--launch-immediately"])
    d.spawn(["dunst"])
    wait_for(lambda: "org.freedesktop.Notifications" in d.run(
        ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
         "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"]), 10, "dunst on the bus")
    d.start_desktop()
    run_usage_session(d, program, python)


if __name__ == "__main__":
    run_script(lambda: drive(
        ("Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo", "dbus-daemon", "dunst",
         "dunstctl", "iperf3", "ip"),
        "xvfb openbox trayer xdotool x11-utils dbus dunst iperf3 iproute2", Desktop, scenario,
        failure="usage-failure"))
