#!/usr/bin/env python3
"""The Windows build of Zarn Bandwidth under Wine, on a real X desktop.

Everything of the program's runs inside a network namespace that this test
creates, whose only interface is its own loopback: Wine's IP Helper then
lists that loopback, and iperf3 loads it. Xvfb, openbox and trayer (Wine
docks its tray icons in an XEmbed tray) run outside; the X socket is a file
and reaches into the namespace.

The program must start, sample the loopback (the tray arrows turn yellow,
then red, against fixed thresholds of 1000 and 2000 kbyte/sec), write its
settings into Wine's registry (the plain "1" stored for the adapter comes
back as " 1"), end on the tray menu's "E&xit", and leave the loopback's
traffic in its usage history (SQLite, in Wine's local application data
folder). Screenshots of the window and tray under load go to --artefacts.

    wine_desktop.py --program EXE --prefix WINEPREFIX [--artefacts FOLDER]
"""

import os
import re
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from desktop import (MAIN_TITLE, X_TOOLS, Desktop, Failure, Skip, main,  # noqa: E402
                     open_menu, step, wait_for)

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SETTINGS_KEY = r"HKCU\Software\ZarnDev\Zarn Bandwidth"
COLOURS = {(0, 255, 0): "green", (255, 255, 0): "yellow", (255, 0, 0): "red"}


class WineDesktop(Desktop):
    # Wine names a program's X windows after its file; the icon it docks in
    # trayer belongs to Wine's shell, sized by the tray.
    instance = "zarnbandwidth.exe"

    def is_icon(self, instance, w, h):
        return 8 <= w <= 32 and 8 <= h <= 32


def colours_in(path):
    """The tray's load colours (exact pixel values) in a screenshot."""
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True).stdout
    return {COLOURS[p] for p in {tuple(raw[i:i + 3]) for i in range(0, len(raw) - 2, 3)}
            if p in COLOURS}


def registry_values(prefix, key):
    """The values of one key in Wine's user.reg, as {name: text}."""
    wanted = "[" + key.split("\\", 1)[1].replace("\\", "\\\\") + "]"
    values, inside = {}, False
    with open(os.path.join(prefix, "user.reg"), encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                inside = line.split("]")[0] + "]" == wanted  # a time may follow
            elif inside and (m := re.match(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$', line)):
                values[m[1]] = m[2]
    return values


def session(d, program, prefix, ns):
    env = dict(d.env, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    netns = ["ip", "netns", "exec", ns]
    # A prefix from an earlier run is reused with the program's key and
    # history removed, so every run starts from nothing of its own.
    subprocess.run(netns + [WINE, "reg", "delete", SETTINGS_KEY, "/f"], env=env,
                   capture_output=True, timeout=240)
    store = os.path.join(prefix, "drive_c", "users", os.environ.get("USER", "root"), "AppData",
                         "Local", "ZarnDev", "Zarn Bandwidth", "usage.sqlite")
    for leftover in (store, store + "-wal", store + "-shm"):
        if os.path.exists(leftover):
            os.remove(leftover)
    # The loopback is left out of the history unless it is named.
    for name, text in (("Adapter", "1"), ("AutoAdjustThreshold", "0"),
                       ("HistoryInterfaces", "lo"), ("YellowThreshold", "1000"),
                       ("RedThreshold", "2000")):
        subprocess.run(netns + [WINE, "reg", "add", SETTINGS_KEY, "/v", name, "/t", "REG_SZ",
                                "/d", text, "/f"], env=env, check=True, capture_output=True,
                       timeout=60)
    d.spawn(netns + ["iperf3", "-s", "-B", "127.0.0.1"])
    try:
        # Under Wine 8 and trayer the first program of a fresh Wine session
        # often gets a docked icon that stays blank and deaf for good; a
        # second start gets a working one. The icon's menu must open before
        # anything else is checked.
        for attempt in range(4):
            step("starting the program under Wine")
            app = d.spawn(netns + [WINE, program], env=env)
            window = wait_for(lambda: d.windows_named(MAIN_TITLE), 60, "the main window")[0]
            icon = wait_for(d.docked_icon, 20, "the tray icon in trayer's panel")
            time.sleep(3)
            try:
                open_menu(d, icon, {window})
                d.keys("Escape")
                break
            except Failure:
                if attempt == 3:
                    raise
                step("Wine left the tray icon blank; starting again")
                subprocess.run(netns + [WINESERVER, "-k"], env=env, capture_output=True,
                               timeout=30)
                app.wait(10)
        panel = d.trayer_panel()
        seen = {}
        for rate, colour in (("12M", "yellow"), ("40M", "red")):
            client = d.spawn(netns + ["iperf3", "-c", "127.0.0.1", "-b", rate, "-l", "1400", "-t",
                                      "8"])
            # Until the colour shows: the first seconds of a run may be lost
            # to the server starting or to Wine under load.
            deadline = time.monotonic() + 7
            while seen.get(rate) != {colour} and time.monotonic() < deadline:
                time.sleep(0.5)
                d.screenshot("wine-tray-%s.png" % rate, "%dx%d+%d+%d" % panel[3:7])
                seen[rate] = colours_in(d.shots[-1])
            if rate == "40M":
                m = re.search(r"Position: (\d+),(\d+).*?Geometry: (\d+)x(\d+)",
                              d.run(["xdotool", "getwindowgeometry", str(window)]), re.S)
                x, y, w, h = map(int, m.groups())
                d.screenshot("wine-main.png", "%dx%d+%d+%d" % (w + 4, h + 22, x - 2, y - 40))
            client.wait(15)
        if seen != {"12M": {"yellow"}, "40M": {"red"}}:
            raise Failure("tray colours at 12 and 40 Mbit/s: %s, not yellow then red" % seen)
        step("E&xit from the tray menu")
        for attempt in range(3):  # Wine's icon now and then misses a click
            try:
                open_menu(d, icon, {window})
                break
            except Failure:
                if attempt == 2:
                    raise
        d.keys("x")
        try:
            app.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end on E&xit")
    finally:
        subprocess.run(netns + [WINESERVER, "-k"], env=env, capture_output=True, timeout=30)

    values = registry_values(prefix, SETTINGS_KEY)
    step("settings in Wine's registry: %s" % values)
    if values.get("Adapter") != " 1":
        raise Failure("the adapter was not stored back as \" 1\": %s" % values)
    # iperf3 sent 12 and 40 Mbit/s for 8 s each: 52 MB each way.
    if not os.path.exists(store):
        raise Failure("no usage history at " + store)
    with sqlite3.connect("file:%s?mode=ro" % store, uri=True) as db:
        received, sent = db.execute("SELECT coalesce(sum(received), 0), coalesce(sum(sent), 0)"
                                    " FROM periods WHERE length = 300").fetchone()
    step("usage history of lo: %d bytes in, %d out" % (received, sent))
    if min(received, sent) < 45_000_000:
        raise Failure("the usage history missed the loopback's traffic")


def scenario(d, program):
    if os.geteuid() != 0:
        raise Skip("needs root for its network namespace")
    prefix = os.path.abspath(sys.argv[sys.argv.index("--prefix") + 1])
    ns = "zarn-wine-%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", ns], capture_output=True).returncode != 0:
        raise Skip("'ip netns add' failed")
    try:
        subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        d.start_x()
        d.start_desktop()
        session(d, program, prefix, ns)
    finally:
        # What still runs inside keeps the namespace until the session ends it.
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)


if __name__ == "__main__":
    main(X_TOOLS + ("trayer", "import", "convert", "ip", "iperf3", WINE), scenario, WineDesktop)
