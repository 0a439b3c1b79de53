#!/usr/bin/env python3
"""Zarn Bandwidth on a real X desktop, the options path: started with
"-startup" it waits hidden in trayer's tray, a double-click brings it back,
options clicked on the "&Options" tab reach the settings file at once, and
the mini window shows from the tray menu. As root it also runs the program
inside a network namespace of its own, loads that namespace's loopback with
iperf3, and photographs the tray icon under load.

Exit codes: 0 passed, 1 failed, 77 skipped. Screenshots go to --artefacts.
"""

import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tray_desktop import (MINI_TITLE, Desktop, Failure, double_click_back, drive,  # noqa: E402
                          hidden_in_tray, main_window, open_menu, run_script, step, wait_for,
                          write_settings)

# Where the Options tab's group box sits in the window's client area, and
# where each check box sits in the group box (the form's own coordinates).
OPTIONS_ORIGIN = (18, 50)
CHECK_BOXES = {
    "chkAnimateTrayIcon": (18, 40, 15),
    "chkAutoAdjustThreshold": (22, 56, 15),
    "chkShowBandwidth": (22, 118, 13),
    "chkMinimizeToTray": (14, 134, 15),
    "chkStartupMinimized": (14, 152, 15),
}

# (check box, setting, its text after the click): every check box starts at
# its default and is clicked once.
TOGGLES = [
    ("chkStartupMinimized", "StartupMinimized", "1"),
    ("chkShowBandwidth", "ShowBandwidthInTray", "0"),
    ("chkAutoAdjustThreshold", "AutoAdjustThreshold", "0"),
    ("chkMinimizeToTray", "MinimizeToTray", "0"),
    ("chkAnimateTrayIcon", "AnimateTrayIcon", "0"),
]


def settings_file(d):
    return os.path.join(d.env["XDG_CONFIG_HOME"], "ZarnDev", "Zarn Bandwidth.conf")


def read_settings(d):
    values = {}
    try:
        with open(settings_file(d)) as f:
            for line in f:
                if "=" in line:
                    key, value = line.rstrip("\n").split("=", 1)
                    values[key] = value.strip('"')
    except OSError:
        pass
    return values


def client_origin(d, wid):
    out = d.run(["xwininfo", "-id", str(wid)])
    x = int(out.split("Absolute upper-left X:")[1].split()[0])
    y = int(out.split("Absolute upper-left Y:")[1].split()[0])
    return x, y


def click_check_box(d, wid, name):
    # On the caption, well right of the box: a click on it toggles the box
    # and is forgiving of a pixel or two of style difference.
    x, y, h = CHECK_BOXES[name]
    ox, oy = client_origin(d, wid)
    d.click((ox + OPTIONS_ORIGIN[0] + x + 60, oy + OPTIONS_ORIGIN[1] + y + h // 2))


def run_options_session(d, program):
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])

    step("-startup: the icon docks, the window stays hidden")
    icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
    time.sleep(0.5)
    if not hidden_in_tray(d, main_window(d)):
        raise Failure("started with -startup, the main window is not hidden")

    step("a double-click on the icon brings the window back")
    wid = double_click_back(d, icon)

    step("Alt+O brings the options forward; each click is stored at once")
    d.keys("alt+o")
    time.sleep(0.4)
    d.screenshot("options-before.png")
    for box, setting, expected in TOGGLES:
        click_check_box(d, wid, box)
        try:
            wait_for(lambda: read_settings(d).get(setting) == expected, 3,
                     "%s=%s in the settings file" % (setting, expected))
        except Failure:
            raise Failure("after a click on %s the settings file holds %s=%r"
                          % (box, setting, read_settings(d).get(setting)))
    d.screenshot("options-after.png")
    if read_settings(d).get("Adapter", "").strip() != "1":
        raise Failure("the stored adapter changed: %r" % read_settings(d).get("Adapter"))

    step("the mini window shows from the tray menu")
    open_menu(d, icon, {wid})
    d.keys("Down", "Down", "Return")
    wait_for(lambda: [w for w in d.windows_named(MINI_TITLE) if d.viewable(w)], 5,
             "the mini window")
    time.sleep(1.0)
    d.screenshot("options-mini.png")
    d.stop(app)

    step("a second start reads the options back: no window, since startup minimised is on")
    app = d.spawn([program])
    wait_for(d.docked_icon, 15, "the icon in trayer's panel")
    wid = wait_for(lambda: main_window(d), 10, "the main window")
    wait_for(lambda: d.wm_state(wid) == "Iconic", 5, "the window to start minimised")
    d.stop(app)


LOAD_COLOURS = {"green": (0, 255, 0), "yellow": (255, 255, 0), "red": (255, 0, 0)}


def colours_in(path):
    """The load colours that appear in a screenshot (exact pixel values)."""
    if not os.path.exists(path) or not shutil.which("convert"):
        return None
    raw = subprocess.run(["convert", path, "-depth", "8", "rgb:-"], capture_output=True).stdout
    pixels = {tuple(raw[i:i + 3]) for i in range(0, len(raw) - 2, 3)}
    return {name for name, rgb in LOAD_COLOURS.items() if rgb in pixels}


def run_load_session(d, program):
    """The icon while the namespace's loopback carries traffic: the program
    runs inside the namespace, so it sees that loopback as its lo."""
    if os.geteuid() != 0 or not shutil.which("ip") or not shutil.which("iperf3"):
        step("tray-under-load part skipped (needs root, ip and iperf3)")
        return
    ns = "zarn-e2e-%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", ns], capture_output=True).returncode != 0:
        step("tray-under-load part skipped ('ip netns add' failed)")
        return
    procs = []
    try:
        subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        procs.append(subprocess.Popen(["ip", "netns", "exec", ns, "iperf3", "-s", "-B",
                                       "127.0.0.1"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        # Fixed thresholds, so that the colours follow the load: 1000 and
        # 2000 kbyte/sec against 2, 12 and 40 Mbit/s.
        write_settings(d, ["Adapter=1", "AutoAdjustThreshold=0", "YellowThreshold=1000",
                           "RedThreshold=2000"])
        app = d.spawn(["ip", "netns", "exec", ns, program, "-startup"])
        wait_for(d.docked_icon, 15, "the icon in trayer's panel")
        panel = d.trayer_panel()
        crop = "%dx%d+%d+%d" % (panel[3], panel[4], panel[5], panel[6])
        time.sleep(1.0)
        d.screenshot("tray-load-0.png", crop)
        seen = {"0": colours_in(os.path.join(d.artefacts or "", "tray-load-0.png"))}
        for rate in ("2M", "12M", "40M"):
            # Small blocks keep the load steady from one tick to the next.
            client = subprocess.Popen(["ip", "netns", "exec", ns, "iperf3", "-c", "127.0.0.1",
                                       "-b", rate, "-l", "1400", "-t", "3"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(client)
            time.sleep(1.5)
            d.screenshot("tray-load-%s.png" % rate, crop)
            seen[rate] = colours_in(os.path.join(d.artefacts or "", "tray-load-%s.png" % rate))
            client.wait(10)
        d.stop(app)
        # Each load shows its own colour in both arrows (lo receives what it
        # sends); without screenshots there is nothing to look at.
        expected = {"0": set(), "2M": {"green"}, "12M": {"yellow"}, "40M": {"red"}}
        if all(v is not None for v in seen.values()) and seen != expected:
            raise Failure("tray colours under load: %s, expected %s" % (seen, expected))
    finally:
        for p in procs:
            if p.poll() is None:
                p.send_signal(signal.SIGTERM)
                p.wait(5)
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)


def scenario(d, program):
    d.start_x()
    d.start_desktop()
    run_options_session(d, program)
    run_load_session(d, program)


if __name__ == "__main__":
    # By default the program that scripts/run.sh builds.
    run_script(lambda: drive(
        ("Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo"),
        "xvfb openbox trayer xdotool x11-utils", Desktop, scenario, failure="options-failure",
        default_program=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                     "build", "zarn-bandwidth")))
