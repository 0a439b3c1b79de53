#!/usr/bin/env python3
"""The Usage window on Xvfb with openbox and trayer, opened from the tray
menu while the program, in a network namespace of its own, downloads over a
veth link from a second namespace: its live figure must be the Monitor tab's
(both read over the accessibility bus), and a small daily data cap's two
warnings must reach a real notification server (dunst). Root only."""

import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import (X_TOOLS, Failure, Skip, in_front, main, open_menu, wait_for,  # noqa: E402
                     write_settings)

ATSPI = "/usr/libexec/at-spi-bus-launcher"


def rates(d, python):
    """The live graph's download figure and the Monitor tab's, or None."""
    out = subprocess.run([python, os.path.join(os.path.dirname(__file__), "atspi_labels.py")],
                         env=d.env, capture_output=True, text=True, timeout=20).stdout
    rows = [(int(x), int(y), t) for x, y, t in (line.split(" ", 2) for line in out.splitlines())]
    number = lambda t: int(t.replace(",", ""))  # noqa: E731
    graph = [number(m[1]) for *_, t in rows
             if (m := re.fullmatch(r"Download: ([\d,]+) byte/sec", t))]
    down = next(((x, y) for x, y, t in rows if t == "Down:"), (0, 0))
    # The Monitor tab's figure sits right of its caption, on the same line.
    monitor = sorted((x, number(t)) for x, y, t in rows
                     if abs(y - down[1]) <= 6 and x > down[0] and re.fullmatch(r"\d[\d,]*", t))
    return graph and monitor and (graph[0], monitor[0][1])


def scenario(d, program):
    python = next((p for p in (sys.executable, "/usr/bin/python3") if subprocess.run(
        [p, "-c", "import pyatspi"], capture_output=True).returncode == 0), None)
    if os.geteuid() != 0 or not python or not os.access(ATSPI, os.X_OK):
        raise Skip("needs root, python3-pyatspi and at-spi2-core")
    d.start_x()
    d.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    d.spawn([ATSPI, "--launch-immediately"])
    d.spawn(["dunst"])
    d.start_desktop()
    ns = ("zarn-usage-%d" % os.getpid(), "zarn-peer-%d" % os.getpid())
    def ip(*args):
        return subprocess.run(("ip",) + args, check=True, capture_output=True, text=True).stdout

    try:
        ip("netns", "add", ns[0])
        ip("netns", "add", ns[1])
        ip("-n", ns[0], "link", "add", "zu0", "type", "veth", "peer", "name", "zu1", "netns", ns[1])
        for n, link, address in ((ns[0], "zu0", "10.77.0.1/24"), (ns[1], "zu1", "10.77.0.2/24")):
            ip("-n", n, "addr", "add", address, "dev", link)
            ip("-n", n, "link", "set", link, "up")
        d.spawn(["ip", "netns", "exec", ns[1], "iperf3", "-s", "-B", "10.77.0.2"])
        # A veth counts once named for the history. 20 MB a day, received and
        # sent: 16 Mbit/s uses it up in about ten seconds.
        index = ip("-n", ns[0], "-o", "link", "show", "zu0").split(":")[0]
        write_settings(d, ["Adapter=" + index, "HistoryInterfaces=zu0", "DataCapEnabled=1",
                           "DataCapPeriod=daily", "DataCapAmount=0.02", "DataCapWarnings=50 100"])
        d.spawn(["ip", "netns", "exec", ns[0], program, "-startup"])
        icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
        # Reversed: the peer sends, so the watched link downloads.
        d.spawn(["ip", "netns", "exec", ns[0], "iperf3", "-c", "10.77.0.2", "-R", "-b", "16M", "-l",
                 "1400", "-t", "60"])
        d.click(icon, repeat=2)
        open_menu(d, icon, {in_front(d, "the double-click to bring the window back")})
        d.keys("u")
        wait_for(lambda: any(map(d.viewable, d.windows_named("Usage"))), 5, "the Usage window")

        # A tick may fall between the two labels' readings: one of a few must agree.
        readings = []
        for _ in range(5):
            readings.append(wait_for(lambda: rates(d, python), 10, "both rates on the a11y bus"))
            graph, monitor = readings[-1]
            if monitor >= 1_000_000 and abs(graph - monitor) <= 0.1 * monitor:
                break
        else:
            raise Failure("graph against Monitor tab, byte/sec: %s" % readings)

        wait_for(lambda: int(d.run(["dunstctl", "count", "displayed"]) or 0) >= 2, 30,
                 "two notifications at dunst")
        d.run(["dunstctl", "close-all"])
        got = [e["summary"]["data"] for e in json.loads(d.run(["dunstctl", "history"]))["data"][0]]
        if sorted(got) != ["100 % of the data cap used", "50 % of the data cap used"]:
            raise Failure("dunst got %r" % got)
    finally:
        for n in ns:
            subprocess.run(["ip", "netns", "del", n], capture_output=True)


if __name__ == "__main__":
    main(X_TOOLS + ("trayer", "dunst", "dunstctl", "iperf3", "ip"), scenario)
