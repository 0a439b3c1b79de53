#!/usr/bin/env python3
"""Zarn Bandwidth in a Wayland session, as a sway user meets it.

A headless sway (no GPU, no input devices) runs waybar, whose tray module is
a StatusNotifierItem host, and starts Xwayland when an X client comes. sway
refuses to run as root, so as root the whole session (bus, compositor, bar,
program) runs as the unprivileged user "nobody" in a folder of its own.

The program runs twice: once as it starts by itself (through Xwayland, the
platform it prefers in a Wayland session) for every check, and once as a
native Wayland client for the checks that it can pass too. What the host
does on a click (Activate, a menu entry) is sent over D-Bus: the headless
seat has no pointer to click with.

Exit codes: 0 passed, 1 failed, 77 skipped. Screenshots go to --artefacts.
"""

import json
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sni_host  # noqa: E402
from tray_desktop import (MAIN_TITLE, MINI_TITLE, Failure, Skip, drive, run_script,  # noqa: E402
                          step, wait_for)

# Every process of the session stops by itself after this long, even if the
# driver is killed outright.
LIFETIME = "150"

SWAY_CONFIG = """output HEADLESS-1 resolution 1280x800 bg #3c3c3c solid_color
default_border normal
bar {
    swaybar_command waybar
}
"""

# Only the tray, so that the bar changes where and when the icon comes.
WAYBAR_CONFIG = {"position": "top", "height": 26, "modules-right": ["tray"],
                 "tray": {"icon-size": 18, "spacing": 6}}


class Session:
    def __init__(self, artefacts):
        self.artefacts = artefacts
        self.shots = []
        self.procs = []
        self.tmp = tempfile.mkdtemp(prefix="zarn-wayland-")
        os.chmod(self.tmp, 0o755)
        self.user = "nobody" if os.geteuid() == 0 else pwd.getpwuid(os.geteuid()).pw_name
        entry = pwd.getpwnam(self.user)
        self.uid, self.gid = entry.pw_uid, entry.pw_gid
        self.home = self.folder("home")
        self.runtime = self.folder("runtime", 0o700)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime,
                    "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "LC_ALL": "C.UTF-8", "XDG_SESSION_TYPE": "wayland"}

    def folder(self, name, mode=0o755):
        path = os.path.join(self.tmp, name)
        os.makedirs(path, mode=mode, exist_ok=True)
        os.chmod(path, mode)
        os.chown(path, self.uid, self.gid)
        return path

    def write(self, path, text):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(text)
        for root, dirs, files in os.walk(self.home):
            for name in dirs + files + ["."]:
                os.chown(os.path.join(root, name), self.uid, self.gid)

    def command(self, args, env=None):
        """args run as the session's user, with the session's environment
        and a lifetime of their own."""
        full = ["timeout", "--kill-after=5", LIFETIME, "env", "-i"]
        full += ["%s=%s" % kv for kv in (env or self.env).items()] + list(args)
        if os.geteuid() == 0:
            full = ["runuser", "-u", self.user, "--"] + full
        return full

    def spawn(self, args, env=None, stdout=subprocess.DEVNULL):
        p = subprocess.Popen(self.command(args, env), stdout=stdout, stderr=subprocess.DEVNULL,
                             start_new_session=True, text=True)
        self.procs.append(p)
        return p

    def run(self, args, check=True):
        r = subprocess.run(self.command(args), capture_output=True, text=True, timeout=20)
        if check and r.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def stop(self, p):
        if p.poll() is None:
            try:
                os.killpg(p.pid, signal.SIGTERM)
                p.wait(5)
            except (ProcessLookupError, subprocess.TimeoutExpired):
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                p.wait()

    def close(self):
        for p in reversed(self.procs):
            self.stop(p)
        shutil.rmtree(self.tmp, ignore_errors=True)

    # ----- the session -----------------------------------------------------
    def start(self):
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE)
        address = bus.stdout.readline().strip()
        if not address:
            raise Failure("the session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        config = os.path.join(self.home, "sway.conf")
        self.write(config, SWAY_CONFIG)
        self.write(os.path.join(self.env["XDG_CONFIG_HOME"], "waybar", "config"),
                   json.dumps(WAYBAR_CONFIG))
        self.spawn(["sway", "-c", config],
                   env=dict(self.env, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                            WLR_LIBINPUT_NO_DEVICES="1"))
        socket = wait_for(lambda: [f for f in os.listdir(self.runtime)
                                   if f.startswith("sway-ipc.")], 20, "sway's socket")[0]
        self.env.update(WAYLAND_DISPLAY="wayland-1",
                        SWAYSOCK=os.path.join(self.runtime, socket))
        wait_for(lambda: self.tree() is not None, 10, "sway to answer")
        # waybar's tray module owns the watcher and registers itself as host.
        wait_for(lambda: self.quiet(sni_host.host_registered), 20, "waybar's tray")
        # Xwayland's display, as sway hands it to what it starts.
        where = os.path.join(self.runtime, "display")
        self.run(["swaymsg", "exec", "echo $DISPLAY > " + where])
        self.env["DISPLAY"] = wait_for(lambda: os.path.exists(where) and
                                       open(where).read().strip(), 5, "sway's X display")

    def quiet(self, query, *args):
        try:
            return query(self.run, *args)
        except (Failure, subprocess.TimeoutExpired):
            return None

    def tree(self):
        try:
            return json.loads(self.run(["swaymsg", "-t", "get_tree"]))
        except (Failure, ValueError):
            return None

    def windows(self):
        """{title: sway's node} of the windows on the workspace, and the
        floating windows' titles from bottom to top."""
        found, floating = {}, []

        def walk(node, is_floating):
            if node.get("type") in ("con", "floating_con") and node.get("name"):
                found[node["name"]] = node
                if is_floating:
                    floating.append(node["name"])
            for child in node.get("nodes", []):
                walk(child, False)
            for child in node.get("floating_nodes", []):
                walk(child, True)

        tree = self.tree()
        if tree:
            walk(tree, False)
        found.pop("__i3_scratch", None)
        return found, floating

    def window(self, title):
        return self.windows()[0].get(title)

    def shown_in_front(self, title):
        w = self.window(title)
        return w if w and w.get("visible") and w.get("focused") else None

    def screenshot(self, name, region=None):
        if not self.artefacts:
            return
        own = os.path.join(self.runtime, "shot.png")
        self.run(["grim"] + (["-g", region] if region else []) + [own])
        os.makedirs(self.artefacts, exist_ok=True)
        path = os.path.join(self.artefacts, name)
        shutil.copyfile(own, path)
        self.shots.append(path)

    def record_failure(self, name):
        self.screenshot(name + ".png")
        if self.artefacts:
            with open(os.path.join(self.artefacts, name + "-tree.json"), "w") as f:
                json.dump(self.tree(), f, indent=1)

    def bar_pixels(self):
        own = os.path.join(self.runtime, "bar.png")
        self.run(["grim", "-g", "1000,0 280x26", "-t", "ppm", own])
        with open(own, "rb") as f:
            return f.read()


def the_program(s, program):
    """The program, readable by the session's user, with fresh settings."""
    copy = os.path.join(s.tmp, "zarn-bandwidth")
    shutil.copyfile(program, copy)
    os.chmod(copy, 0o755)
    s.write(os.path.join(s.env["XDG_CONFIG_HOME"], "ZarnDev", "Zarn Bandwidth.conf"),
            "[General]\nAdapter=1\n")
    return copy


def start_in_tray(s, program, env):
    """Starts the program with -startup; returns it and its tray item."""
    before = set(s.quiet(sni_host.registered_items) or [])
    app = s.spawn([program, "-startup"], env=env)
    item = wait_for(lambda: [i for i in (s.quiet(sni_host.registered_items) or [])
                             if i not in before], 20, "the item to register with waybar")[0]
    time.sleep(0.5)
    if s.window(MAIN_TITLE):
        raise Failure("started with -startup, the main window is on the screen")
    return app, item


def bring_back(s, item, how):
    if how == "activate":
        sni_host.activate(s.run, item)
    else:
        sni_host.choose(s.run, item, how)
    return wait_for(lambda: s.shown_in_front(MAIN_TITLE), 10, how + " to bring the window back")


def exit_from_menu(s, app, item):
    sni_host.choose(s.run, item, "E_xit")
    wait_for(lambda: app.poll() is not None, 10, "E&xit to end the program")
    wait_for(lambda: item not in (s.quiet(sni_host.registered_items) or []), 5,
             "the item to leave waybar")


def mini_above_main(s):
    """Focuses the main window, as a click on it would, and tells whether
    the mini window is still stacked above it."""
    s.run(["swaymsg", '[title="^%s$"] focus' % MAIN_TITLE])
    wait_for(lambda: s.shown_in_front(MAIN_TITLE), 5, "the main window to take the focus")
    floating = s.windows()[1]
    return floating.index(MINI_TITLE) > floating.index(MAIN_TITLE)


def run_x_client(s, program):
    step("as it starts by itself: an X client through Xwayland, its icon in waybar")
    bar_before = s.bar_pixels()
    app, item = start_in_tray(s, program, s.env)
    wait_for(lambda: s.bar_pixels() != bar_before, 10, "the icon to show in waybar")
    s.screenshot("wayland-tray.png", "980,0 300x26")

    step("Activate (a left click in waybar) brings the window back in front")
    main = bring_back(s, item, "activate")
    if main.get("shell") != "xwayland":
        raise Failure("the program chose %s, not Xwayland" % main.get("shell"))

    step("Show Mini Bandiwdth Monitor from the menu shows the mini window")
    sni_host.choose(s.run, item, "Show Mini Bandiwdth Monitor")
    wait_for(lambda: s.window(MINI_TITLE), 10, "the mini window")
    time.sleep(1.0)  # a few ticks, so that it shows rates
    step("mini window above the focused main window: %s"
         % ("yes" if mini_above_main(s) else "no (sway keeps no window above others)"))

    step("minimised by the window manager (sway allows it to an unfocused X window): to the tray")
    s.run(["swaymsg", '[title="^%s$"] focus' % MINI_TITLE])
    wid = s.window(MAIN_TITLE)["window"]
    s.run(["xdotool", "windowminimize", str(wid)])
    wait_for(lambda: s.window(MAIN_TITLE) is None, 10, "the window to leave for the tray")

    step("Show Main from the menu brings it back in front")
    bring_back(s, item, "Show Main")
    s.run(["swaymsg", '[title="^%s$"] focus' % MINI_TITLE])
    time.sleep(0.5)
    s.screenshot("wayland-desktop.png")

    step("E&xit from the menu ends the program")
    exit_from_menu(s, app, item)


def run_wayland_client(s, program):
    step("as a native Wayland client: icon, Activate, the mini window, E&xit")
    env = dict(s.env, QT_QPA_PLATFORM="wayland")
    app, item = start_in_tray(s, program, env)
    main = bring_back(s, item, "activate")
    if main.get("shell") != "xdg_shell":
        raise Failure("QT_QPA_PLATFORM=wayland ran as %s" % main.get("shell"))
    sni_host.choose(s.run, item, "Show Mini Bandiwdth Monitor")
    wait_for(lambda: s.window(MINI_TITLE), 10, "the mini window")
    step("native Wayland, mini window above the focused main window: %s"
         % ("yes" if mini_above_main(s) else "no"))
    # xdg-shell never tells a client that it was minimised, and sway has no
    # minimise at all: minimise-to-tray cannot happen here.
    exit_from_menu(s, app, item)


def scenario(s, program):
    if not os.path.exists("/usr/lib/%s-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"
                          % os.uname().machine):
        raise Skip("Qt's Wayland platform is not installed (Debian: qt6-wayland)")
    s.start()
    program = the_program(s, program)
    run_x_client(s, program)
    run_wayland_client(s, program)


if __name__ == "__main__":
    run_script(lambda: drive(
        ("sway", "waybar", "grim", "Xwayland", "dbus-daemon", "gdbus", "xdotool", "swaymsg"),
        "sway waybar grim xwayland dbus libglib2.0-bin xdotool", Session, scenario,
        failure="wayland-failure"))
