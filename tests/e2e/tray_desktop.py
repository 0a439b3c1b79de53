#!/usr/bin/env python3
"""Drives Zarn Bandwidth on a real X desktop, as a user would.

A private Xvfb display gets openbox (the window manager: minimise and raise
need one) and trayer (an XEmbed tray host); the program runs with a fresh
settings folder and its own session bus, so no StatusNotifierItem watcher of
the user's desktop can take the icon away from trayer. xdotool clicks the
docked icon, xprop and xwininfo read back what the window manager did.

Exit codes: 0 passed, 1 failed, 77 skipped (no X server or tools missing).
Screenshots go to the artefacts folder given with --artefacts.
"""

import argparse
import ctypes
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
MAIN_TITLE = "Bandwidth Monitor"
MINI_TITLE = "MiniBandwidth"
INSTANCE = "zarn-bandwidth"


class Failure(Exception):
    pass


class Skip(Exception):
    """The desktop cannot run on this machine; the message says why."""


def die_with_driver():
    # Every process of the session ends when this driver ends, however it
    # ends (also when CTest kills it on a timeout).
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Desktop:
    """The X session: Xvfb, a session bus, openbox and trayer."""

    def __init__(self, artefacts):
        self.artefacts = artefacts
        self.procs = []
        self.env = None
        self.tmp = tempfile.mkdtemp(prefix="zarn-e2e-")
        self.shots = []

    # ----- processes -------------------------------------------------------
    def spawn(self, args, env=None, **kw):
        p = subprocess.Popen(args, env=env or self.env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, preexec_fn=die_with_driver, **kw)
        self.procs.append(p)
        return p

    def stop(self, p, timeout=3.0):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def close(self):
        for p in reversed(self.procs):
            self.stop(p)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start_x(self):
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=die_with_driver)
        os.close(write_fd)
        self.procs.append(xvfb)
        number = b""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        if not number.strip().isdigit():
            raise Skip("no X server could start (Xvfb failed)")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QT_", "DBUS_", "XDG_", "WAYLAND"))}
        env.update(DISPLAY=":" + number.decode().strip(), LC_ALL="C.UTF-8",
                   QT_QPA_PLATFORM="xcb", XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                   XDG_RUNTIME_DIR=os.path.join(self.tmp, "runtime"), HOME=self.tmp)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        os.makedirs(env["XDG_CONFIG_HOME"])
        self.env = env

    def start_session_bus(self):
        if not shutil.which("dbus-daemon"):
            return
        p = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                             env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             preexec_fn=die_with_driver, text=True)
        self.procs.append(p)
        address = p.stdout.readline().strip()
        if address:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def start_desktop(self):
        self.start_window_manager()
        self.start_trayer()

    def start_window_manager(self):
        self.spawn(["openbox"])
        wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in self.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]), 10, "openbox to start")

    def start_trayer(self):
        self.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                    "--height", "24"])
        wait_for(lambda: self.trayer_panel(), 10, "trayer's panel")

    # ----- X queries -------------------------------------------------------
    def run(self, args, check=False):
        r = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=10)
        if check and r.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def tree(self):
        """(id, name, instance, width, height, absolute x, absolute y) of every window."""
        rows = []
        pattern = re.compile(r'^\s*(0x[0-9a-f]+) (?:"(.*?)"|\(has no name\)):\s*(?:\("([^"]*)"[^)]*\))?'
                             r'.*?\s(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+(-?\d+)\+(-?\d+)')
        for line in self.run(["xwininfo", "-root", "-tree"]).splitlines():
            m = pattern.match(line)
            if m:
                wid, name, inst, w, h, x, y = m.groups()
                rows.append((int(wid, 16), name or "", inst or "", int(w), int(h), int(x), int(y)))
        return rows

    def trayer_panel(self):
        for row in self.tree():
            if row[1] == "panel" and row[2] == "panel":
                return row
        return None

    def docked_icon(self):
        """Centre of the program's 22x22 icon inside trayer's panel, or None."""
        panel = self.trayer_panel()
        if not panel:
            return None
        _, _, _, pw, ph, px, py = panel
        for wid, name, inst, w, h, x, y in self.tree():
            if inst == INSTANCE and (w, h) == (22, 22) and px <= x < px + pw and py <= y < py + ph:
                return (x + w // 2, y + h // 2)
        return None

    def windows_named(self, title):
        out = self.run(["xdotool", "search", "--name", "^%s$" % re.escape(title)])
        return [int(w) for w in out.split()]

    def viewable(self, wid):
        return "IsViewable" in self.run(["xwininfo", "-id", str(wid)])

    def wm_state(self, wid):
        """"Normal", "Iconic", "Withdrawn" or "" (no WM_STATE at all)."""
        m = re.search(r"window state: (\w+)", self.run(["xprop", "-id", str(wid), "WM_STATE"]))
        return m.group(1) if m else ""

    def root_windows(self, prop):
        out = self.run(["xprop", "-root", prop])
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", out)]

    def net_wm_state(self, wid):
        return self.run(["xprop", "-id", str(wid), "_NET_WM_STATE"])

    def menu_window(self, exclude):
        """The open popup menu: a viewable window of the program that is not
        one of the windows in exclude nor the docked icon."""
        for wid, name, inst, w, h, x, y in self.tree():
            if (inst == INSTANCE and wid not in exclude and name not in (MAIN_TITLE, MINI_TITLE)
                    and w > 60 and h > 40 and self.viewable(wid)):
                return wid
        return None

    # ----- user actions ----------------------------------------------------
    def click(self, pos, button=1, repeat=1):
        x, y = pos
        args = ["xdotool", "mousemove", str(x), str(y), "click"]
        if repeat > 1:
            args += ["--repeat", str(repeat), "--delay", "80"]
        self.run(args + [str(button)], check=True)

    def keys(self, *names):
        self.run(["xdotool", "key", "--delay", "60"] + list(names), check=True)

    def minimise(self, wid):
        self.run(["xdotool", "windowminimize", str(wid)], check=True)

    def record_failure(self, name):
        """What the screen and the window tree looked like when a check failed."""
        if not self.env:
            return
        self.screenshot(name + ".png")
        if self.artefacts:
            with open(os.path.join(self.artefacts, name + "-windows.txt"), "w") as f:
                f.write(self.run(["xwininfo", "-root", "-tree"]))

    def screenshot(self, name, crop=None):
        if not shutil.which("import") or not self.artefacts:
            return
        os.makedirs(self.artefacts, exist_ok=True)
        path = os.path.join(self.artefacts, name)
        args = ["import", "-window", "root"]
        if crop:
            args += ["-crop", crop, "+repage"]
        self.run(args + [path])
        if os.path.exists(path):
            self.shots.append(path)


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)


def write_settings(desktop, lines):
    folder = os.path.join(desktop.env["XDG_CONFIG_HOME"], "ZarnDev")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "Zarn Bandwidth.conf"), "w") as f:
        f.write("[General]\n" + "".join(l + "\n" for l in lines))


def open_menu(d, icon, exclude):
    """Right-clicks the icon and returns the menu's window. A click that the
    busy machine lost is tried once more, and says so."""
    for attempt in range(2):
        d.click(icon, button=3)
        try:
            menu = wait_for(lambda: d.menu_window(exclude), 4, "the tray menu")
            time.sleep(0.3)  # the menu takes the keyboard once it is up
            return menu
        except Failure:
            if attempt:
                raise
            step("no menu after a right click; trying once more")
            d.keys("Escape")
            time.sleep(0.3)
    return None


def step(text):
    print("e2e: " + text, flush=True)


def main_window(d):
    found = d.windows_named(MAIN_TITLE)
    return found[0] if found else None


def hidden_in_tray(d, wid):
    # Hidden, not minimised: the window manager lets go of it entirely.
    return (wid is None or (not d.viewable(wid) and d.wm_state(wid) in ("", "Withdrawn")
                            and wid not in d.root_windows("_NET_CLIENT_LIST")))


def frontmost_normal(d, wid):
    return (d.viewable(wid) and d.wm_state(wid) == "Normal"
            and "HIDDEN" not in d.net_wm_state(wid)
            and d.run(["xdotool", "getactivewindow"]).strip() == str(wid))


def double_click_back(d, icon):
    """Double-clicks the tray icon; returns the main window once it is in front."""
    d.click(icon, repeat=2)
    wid = wait_for(lambda: main_window(d), 5, "the main window")
    wait_for(lambda: frontmost_normal(d, wid), 5, "the main window shown, normal and active")
    return wid


def on_taskbar(d, wid):
    """Minimised or shown, the window manager still lists the window."""
    return wid in d.root_windows("_NET_CLIENT_LIST") and d.wm_state(wid) in ("Normal", "Iconic")


def stays_on_taskbar(d, wid, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if not on_taskbar(d, wid):
            raise Failure("with no tray on the desktop the window left the taskbar (%r)"
                          % d.wm_state(wid))
        time.sleep(0.1)


def activate(d, wid):
    d.run(["xdotool", "windowactivate", str(wid)], check=True)
    wait_for(lambda: frontmost_normal(d, wid), 5, "the window restored from the taskbar")


def run_no_tray_session(d, program):
    """A window manager and no tray: a hidden window could never come back."""
    step("no tray on the desktop: -startup starts the window minimised, not hidden")
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])
    wid = wait_for(lambda: main_window(d), 15, "the main window")
    wait_for(lambda: d.wm_state(wid) == "Iconic", 10, "the window to start minimised")
    stays_on_taskbar(d, wid, 1.5)

    step("no tray: restored and minimised again, it stays on the taskbar")
    activate(d, wid)
    d.minimise(wid)
    wait_for(lambda: d.wm_state(wid) == "Iconic", 5, "the window to be minimised")
    stays_on_taskbar(d, wid, 1.5)

    step("a tray that starts later takes the icon, and minimise goes to the tray again")
    d.start_trayer()
    icon = wait_for(d.docked_icon, 15, "the icon to dock in the tray that came")
    activate(d, wid)
    d.minimise(wid)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")
    double_click_back(d, icon)
    d.stop(app)


def mini_window_above(d, wid):
    """Waits for the mini window; it must stay above the main window even
    when that one is activated. Returns the mini window."""
    mini = wait_for(lambda: [w for w in d.windows_named(MINI_TITLE) if d.viewable(w)], 5,
                    "the mini window")[0]
    if "_NET_WM_STATE_ABOVE" not in d.net_wm_state(mini):
        raise Failure("the mini window is not kept above other windows")
    d.run(["xdotool", "windowactivate", "--sync", str(wid)])
    time.sleep(0.5)
    stacking = d.root_windows("_NET_CLIENT_LIST_STACKING")
    if mini not in stacking or wid not in stacking or stacking.index(mini) < stacking.index(wid):
        raise Failure("the mini window went below the active main window")
    return mini


def run_tray_session(d, program):
    # An adapter that every Linux machine has, so that the windows show figures.
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])

    step("the icon docks in trayer; the window stays hidden")
    icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
    time.sleep(0.5)
    if not hidden_in_tray(d, main_window(d)):
        raise Failure("started with -startup, the main window is not hidden")
    panel = d.trayer_panel()
    d.screenshot("tray-idle.png", "%dx%d+%d+0" % (max(panel[3], 22) + 160, 64,
                                                   max(panel[5] - 160, 0)))
    d.screenshot("desktop-startup.png")

    step("a single click does nothing on an XEmbed host")
    d.click(icon)
    time.sleep(0.6)
    if not hidden_in_tray(d, main_window(d)):
        raise Failure("a single click brought the window back")

    step("a double-click brings the window back in front")
    wid = double_click_back(d, icon)

    step("minimising with the tray options on hides the window")
    d.minimise(wid)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")

    step("right click opens the menu; Show Main brings the window back")
    menu = open_menu(d, icon, {wid})
    d.screenshot("tray-menu.png")
    d.keys("Down", "Return")
    wait_for(lambda: not d.viewable(menu), 3, "the menu to close")
    wait_for(lambda: frontmost_normal(d, wid), 5, "Show Main to bring the window back")

    step("the mini window shows on top, above the main window")
    open_menu(d, icon, {wid})
    d.keys("Down", "Down", "Return")
    mini = mini_window_above(d, wid)
    time.sleep(1.0)  # a few ticks, so that the mini window shows rates
    d.screenshot("mini-window.png")

    step("the menu opens on the right button's release, not its press")
    x, y = icon
    d.run(["xdotool", "mousemove", str(x), str(y), "mousedown", "3"], check=True)
    time.sleep(0.8)
    opened_early = d.menu_window({wid, mini})
    d.run(["xdotool", "mouseup", "3"], check=True)
    if opened_early:
        raise Failure("the right button's press opened the tray menu")
    menu = wait_for(lambda: d.menu_window({wid, mini}), 4, "the tray menu on the release")

    step("a right click on E&xit runs nothing: the items answer the left button only")
    _, _, _, w, h, mx, my = next(row for row in d.tree() if row[0] == menu)
    d.run(["xdotool", "mousemove", str(mx + w // 2), str(my + h - 8), "click", "3"], check=True)
    time.sleep(0.8)
    if app.poll() is not None:
        raise Failure("a right click on E&xit ended the program")
    d.keys("Escape")
    wait_for(lambda: not d.viewable(menu), 3, "the menu to close")

    step("E&xit from the menu ends the program and takes the icon away")
    open_menu(d, icon, {wid, mini})
    d.keys("x")
    wait_for(lambda: app.poll() is not None, 5, "the program to end")
    wait_for(lambda: d.docked_icon() is None, 3, "the icon to leave the tray")


def run_taskbar_session(d, program):
    step("with minimise-to-tray off, minimising keeps the window on the taskbar")
    write_settings(d, ["Adapter=1", "MinimizeToTray=0"])
    app = d.spawn([program])
    wait_for(d.docked_icon, 15, "the icon in trayer's panel")
    wid = wait_for(lambda: [w for w in d.windows_named(MAIN_TITLE) if d.viewable(w)], 10,
                   "the main window")[0]
    d.minimise(wid)
    wait_for(lambda: d.wm_state(wid) == "Iconic", 5, "the window to be minimised")
    time.sleep(0.5)
    if d.wm_state(wid) != "Iconic" or wid not in d.root_windows("_NET_CLIENT_LIST"):
        raise Failure("minimised with minimise-to-tray off, the window left the taskbar")
    d.stop(app)


def python_with_gi():
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.access(candidate, os.X_OK) and subprocess.run(
                [candidate, "-c", "from gi.repository import Gio"],
                capture_output=True).returncode == 0:
            return candidate
    return None


def read_line(p, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([p.stdout], [], [], 0.1)
        if ready:
            return p.stdout.readline().strip()
        if p.poll() is not None:
            return ""
    return ""


def run_sni_session(d, program):
    """On a StatusNotifierItem host the icon sends one "activate" per click,
    never a double-click: that activate has to bring the window back."""
    python = python_with_gi()
    if not python or "DBUS_SESSION_BUS_ADDRESS" not in d.env or not shutil.which("gdbus"):
        step("StatusNotifierItem part skipped (needs dbus-daemon, gdbus and python3-gi)")
        return
    step("StatusNotifierItem host: one activate brings the window back")
    watcher = subprocess.Popen([python, os.path.join(os.path.dirname(__file__), "sni_watcher.py")],
                               env=d.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True, preexec_fn=die_with_driver)
    d.procs.append(watcher)
    if read_line(watcher, 5) != "ready":
        raise Failure("the StatusNotifierItem watcher did not start")
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])
    line = read_line(watcher, 10)
    if not line.startswith("item "):
        raise Failure("the program registered no StatusNotifierItem with the watcher")
    sender = line.split()[1]
    time.sleep(0.5)
    if d.docked_icon() is not None:
        raise Failure("with a StatusNotifierItem host the icon also docked in trayer")
    if not hidden_in_tray(d, main_window(d)):
        raise Failure("started with -startup, the main window is not hidden")
    d.run(["gdbus", "call", "--session", "--dest", sender, "--object-path",
           "/StatusNotifierItem", "--method", "org.kde.StatusNotifierItem.Activate", "0", "0"],
          check=True)
    wid = wait_for(lambda: main_window(d), 5, "the main window")
    wait_for(lambda: frontmost_normal(d, wid), 5, "activate to bring the window back")
    d.minimise(wid)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")
    d.stop(app)
    d.stop(watcher)


def drive(tools, packages, make_desktop, scenario, failure="failure", default_program=None):
    """The frame every desktop test shares: the command line, a skip where
    the desktop's tools are missing, and the desktop closed however the
    scenario ends. scenario(desktop, program) starts what it needs and runs
    the checks, raising Failure or Skip. Returns the exit code."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=default_program is None, default=default_program)
    parser.add_argument("--artefacts", default="")
    args = parser.parse_args()

    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        print("SKIP: missing tools: %s (Debian: %s)" % (", ".join(missing), packages))
        return SKIP
    if not os.access(args.program, os.X_OK):
        print("FAIL: program not built: " + args.program)
        return 1

    d = make_desktop(args.artefacts)
    started = time.monotonic()
    try:
        scenario(d, args.program)
    except Skip as e:
        print("SKIP: %s" % e)
        return SKIP
    except Failure as e:
        try:
            d.record_failure(failure)
        except (Failure, OSError, subprocess.SubprocessError):
            pass  # the failure itself is what matters
        print("FAIL: %s" % e)
        return 1
    finally:
        d.close()
        for shot in d.shots:
            print("e2e: screenshot " + shot)
    print("e2e: passed in %.1f s" % (time.monotonic() - started))
    return 0


def run_script(main):
    # CTest ends a test that runs too long with SIGTERM: the desktop is
    # still closed on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    sys.exit(main())


def scenario(d, program):
    d.start_x()
    d.start_session_bus()
    d.start_window_manager()
    run_no_tray_session(d, program)  # starts trayer at its end
    run_tray_session(d, program)
    run_taskbar_session(d, program)
    run_sni_session(d, program)


if __name__ == "__main__":
    run_script(lambda: drive(("Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo"),
                             "xvfb openbox trayer xdotool x11-utils", Desktop, scenario))
