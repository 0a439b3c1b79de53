#!/usr/bin/env python3
"""The Windows build of Zarn Bandwidth under Wine, on a real X desktop.

Everything of the program's runs inside a network namespace that this test
creates, whose only interface is its own loopback: Wine's IP Helper then
lists that loopback, and iperf3 loads it. Xvfb, openbox and trayer (Wine
docks its tray icons in an XEmbed tray) run outside; the X socket is a file
and reaches into the namespace.

The program must start, list the loopback ("127.0.0.1: lo"), sample it (the
tray arrows turn yellow, then red, against fixed thresholds of 1000 and
2000 kbyte/sec), write its settings into Wine's registry (the plain "1"
stored for the adapter comes back as " 1"), end on the tray menu's "E&xit",
and leave the loopback's traffic in its usage history (SQLite, in Wine's
local application data folder). A screenshot of the window under load goes to --artefacts.

Exit codes: 0 passed, 1 failed, 77 skipped (not root, or tools missing).
"""

import argparse
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from tray_desktop import (MAIN_TITLE, SKIP, Desktop, Failure, open_menu,  # noqa: E402
                          step, wait_for)
from options_desktop import colours_in  # noqa: E402

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SETTINGS_KEY = r"HKCU\Software\ZarnDev\Zarn Bandwidth"


class WineDesktop(Desktop):
    # Wine names a program's X windows after its file; the icon it docks in
    # trayer belongs to Wine's shell, sized by the tray.
    instance = "zarnbandwidth.exe"

    def is_icon(self, instance, w, h):
        return 8 <= w <= 32 and 8 <= h <= 32


def wine_env(d, prefix):
    env = dict(d.env)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def registry_values(prefix, key):
    """The values of one key in Wine's user.reg, as {name: text}."""
    path = os.path.join(prefix, "user.reg")
    wanted = "[" + key.split("\\", 1)[1].replace("\\", "\\\\") + "]"
    values, inside = {}, False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                inside = line == wanted or line.startswith(wanted + " ")  # a time follows
            elif inside:
                m = re.match(r'^"((?:[^"\\]|\\.)*)"="((?:[^"\\]|\\.)*)"$', line)
                if m:
                    values[m.group(1)] = m.group(2)
    return values


def run_session(d, program, prefix, ns):
    env = wine_env(d, prefix)
    netns = ["ip", "netns", "exec", ns]
    # A fresh prefix takes a while; one from an earlier run is reused with
    # the program's key removed, so every run starts from no settings.
    subprocess.run(netns + [WINE, "reg", "delete", SETTINGS_KEY, "/f"], env=env,
                   capture_output=True, timeout=240)
    # The loopback is left out of the history unless it is named.
    for name, text in (("Adapter", "1"), ("AutoAdjustThreshold", "0"),
                       ("HistoryInterfaces", "lo"), ("YellowThreshold", "1000"),
                       ("RedThreshold", "2000")):
        subprocess.run(netns + [WINE, "reg", "add", SETTINGS_KEY, "/v", name, "/t", "REG_SZ",
                                "/d", text, "/f"], env=env, check=True, capture_output=True,
                       timeout=60)

    server = subprocess.Popen(netns + ["iperf3", "-s", "-B", "127.0.0.1"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        step("starting the program under Wine")
        app = subprocess.Popen(netns + [WINE, program], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        window = wait_for(lambda: d.windows_named(MAIN_TITLE), 60, "the main window")[0]
        icon = wait_for(d.docked_icon, 20, "the tray icon in trayer's panel")
        panel = d.trayer_panel()
        crop = "%dx%d+%d+%d" % (panel[3], panel[4], panel[5], panel[6])
        seen = {}
        for rate in ("12M", "40M"):
            client = subprocess.Popen(netns + ["iperf3", "-c", "127.0.0.1", "-b", rate, "-l",
                                               "1400", "-t", "4"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(2.5)
            d.screenshot("wine-tray-%s.png" % rate, crop)
            seen[rate] = colours_in(os.path.join(d.artefacts, "wine-tray-%s.png" % rate))
            if rate == "40M":
                geometry = d.run(["xdotool", "getwindowgeometry", str(window)])
                m = re.search(r"Position: (\d+),(\d+).*?Geometry: (\d+)x(\d+)", geometry, re.S)
                if m:
                    x, y, w, h = map(int, m.groups())
                    d.screenshot("wine-main.png", "%dx%d+%d+%d" % (w + 4, h + 30, x - 2, y - 28))
            client.wait(15)
        expected = {"12M": {"yellow"}, "40M": {"red"}}
        if all(v is not None for v in seen.values()) and seen != expected:
            raise Failure("tray colours under load: %s, expected %s" % (seen, expected))
        step("tray colours under load: %s" % seen)

        step("E&xit from the tray menu")
        open_menu(d, icon, {window})
        d.keys("x")
        try:
            app.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end on E&xit")
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(5)
        subprocess.run(netns + [WINESERVER, "-k"], env=env, capture_output=True, timeout=30)

    values = registry_values(prefix, SETTINGS_KEY)
    step("settings in Wine's registry: %s" % values)
    if values.get("Adapter") != " 1":
        raise Failure("the adapter was not stored back as \" 1\": %s" % values)

    # iperf3 sent 12 and 40 Mbit/s for 4 s each: 26 MB both ways, and more.
    store = os.path.join(prefix, "drive_c", "users", os.environ.get("USER", "root"), "AppData",
                         "Local", "ZarnDev", "Zarn Bandwidth", "usage.sqlite")
    if not os.path.exists(store):
        raise Failure("no usage history at " + store)
    with sqlite3.connect("file:%s?mode=ro" % store, uri=True) as db:
        received, sent = db.execute("SELECT coalesce(sum(received), 0), coalesce(sum(sent), 0)"
                                    " FROM periods WHERE length = 300").fetchone()
    step("usage history of lo: %d bytes in, %d out" % (received, sent))
    if min(received, sent) < 20_000_000:
        raise Failure("the usage history missed the loopback's traffic")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--artefacts", required=True)
    args = parser.parse_args()

    missing = [t for t in ("Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo",
                           "import", "convert", "ip", "iperf3", WINE) if not shutil.which(t)]
    if missing:
        print("SKIP: missing tools: " + ", ".join(missing))
        return SKIP
    if os.geteuid() != 0:
        print("SKIP: needs root for its network namespace")
        return SKIP
    if not os.path.exists(args.program):
        print("FAIL: program not built: " + args.program)
        return 1

    ns = "zarn-wine-%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", ns], capture_output=True).returncode != 0:
        print("SKIP: 'ip netns add' failed")
        return SKIP
    d = WineDesktop(args.artefacts)
    started = time.monotonic()
    try:
        subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        if not d.start_x():
            print("SKIP: no X server could start (Xvfb failed)")
            return SKIP
        d.start_desktop()
        run_session(d, os.path.abspath(args.program), os.path.abspath(args.prefix), ns)
    except Failure as e:
        d.screenshot("wine-failure.png")
        print("FAIL: %s" % e)
        return 1
    finally:
        d.close()
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)
        for shot in d.shots:
            print("e2e: screenshot " + shot)
    print("e2e: passed in %.1f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())
