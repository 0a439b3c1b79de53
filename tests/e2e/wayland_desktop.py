#!/usr/bin/env python3
"""Zarn Bandwidth in a headless sway with waybar, whose tray module is a
StatusNotifierItem host: once as it starts by itself (an X client through
Xwayland), once as a native Wayland client. With -startup its icon shows in
waybar and no window; Activate brings the window back in front; Show Mini
shows the mini window; minimised (the X client only) it goes to the tray and
Show Main brings it back; E&xit ends it and takes the icon away. The seat has
no pointer: what waybar does for a click is sent over D-Bus. sway refuses to
run as root, so as root the whole session runs as "nobody"."""

import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import (GET, MAIN_TITLE, MINI_TITLE, Desktop, Failure, Skip, main, sni,  # noqa: E402
                     sni_items, step, wait_for, watcher, write_settings)

PLATFORM = "/usr/lib/%s-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"


class Session(Desktop):
    def __init__(self, artefacts):
        super().__init__(artefacts)
        os.chmod(self.tmp, 0o755)
        if os.geteuid() == 0:
            self.user = dict(user="nobody", group="nogroup", extra_groups=[])
        self.home, self.runtime = os.path.join(self.tmp, "home"), os.path.join(self.tmp, "run")
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime,
                    "XDG_CONFIG_HOME": self.home, "LC_ALL": "C.UTF-8"}

    def bar(self):  # the pixels of waybar's tray
        self.run(["grim", "-g", "1000,0 280x26", os.path.join(self.runtime, "bar.png")], check=True)
        with open(os.path.join(self.runtime, "bar.png"), "rb") as f:
            return f.read()

    def start(self, program):
        write_settings(self, ["Adapter=1"])
        os.makedirs(os.path.join(self.home, "waybar"))
        os.makedirs(self.runtime, mode=0o700)
        with open(os.path.join(self.home, "waybar", "config"), "w") as f:
            f.write('{"position": "top", "height": 26, "modules-right": ["tray"]}')
        with open(os.path.join(self.home, "sway.conf"), "w") as f:
            f.write("output HEADLESS-1 resolution 1280x800\nbar {\n swaybar_command waybar\n}\n")
        shutil.copy(program, self.home)  # where the session's user can run it
        if self.user:
            subprocess.run(["chown", "-R", "nobody:nogroup", self.home, self.runtime], check=True)
        self.start_bus()
        self.spawn(["sway", "-c", os.path.join(self.home, "sway.conf")],
                   env=dict(self.env, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                            WLR_LIBINPUT_NO_DEVICES="1"))
        socket = wait_for(lambda: [f for f in os.listdir(self.runtime) if "sway-ipc" in f], 20,
                          "sway's socket")[0]
        self.env.update(WAYLAND_DISPLAY="wayland-1", SWAYSOCK=os.path.join(self.runtime, socket))
        wait_for(lambda: "true" in watcher(self, "IsStatusNotifierHostRegistered"), 20,
                 "waybar's tray")
        # Xwayland's display, as sway hands it to what it starts.
        where = os.path.join(self.runtime, "display")
        self.run(["swaymsg", "exec", "echo $DISPLAY > " + where], check=True)
        self.env["DISPLAY"] = wait_for(lambda: os.path.exists(where) and open(where).read().strip(),
                                       5, "sway's X display")

    def window(self, title, front=False):  # sway's node of it (only when focused, if front)
        todo = [json.loads(self.run(["swaymsg", "-t", "get_tree"], check=True))]
        while todo:
            node = todo.pop()
            if node.get("name") == title:
                return node if not front or node.get("focused") and node.get("visible") else None
            todo += node.get("nodes", []) + node.get("floating_nodes", [])
        return None


def choose(s, item, label):  # the menu entry labelled so, as the host does for a click
    menu = (item[0], re.search(r"objectpath '([^']+)'",
                               sni(s, item, GET, "org.kde.StatusNotifierItem", "Menu"))[1])
    layout = sni(s, menu, "com.canonical.dbusmenu.GetLayout", "0", "--", "-1", "[]")
    entry = re.search(r"\((\d+), \{[^}]*'label': <'%s'>" % re.escape(label), layout)
    sni(s, menu, "com.canonical.dbusmenu.Event", entry[1], "clicked", "<0>", "0")


def scenario(s, program):
    if not os.path.exists(PLATFORM % os.uname().machine):
        raise Skip("Qt's Wayland platform is not installed (Debian: qt6-wayland)")
    s.start(program)
    for shell, env in (("xwayland", s.env), ("xdg_shell", dict(s.env, QT_QPA_PLATFORM="wayland"))):
        step("the program as %s" % shell)
        bar = s.bar()
        app = s.spawn([os.path.join(s.home, os.path.basename(program)), "-startup"], env=env)
        item = wait_for(lambda: sni_items(s), 20, "the item to register with waybar")[0]
        wait_for(lambda: s.bar() != bar, 10, "the icon in waybar")
        time.sleep(0.5)
        if s.window(MAIN_TITLE):
            raise Failure("started with -startup, the main window is on the screen")

        sni(s, item, "org.kde.StatusNotifierItem.Activate", "0", "0")
        main_node = wait_for(lambda: s.window(MAIN_TITLE, True), 10, "Activate to bring it back")
        if main_node.get("shell") != shell:
            raise Failure("the program ran as %s, not %s" % (main_node.get("shell"), shell))
        choose(s, item, "Show Mini Bandiwdth Monitor")
        wait_for(lambda: s.window(MINI_TITLE), 10, "the mini window")

        # Minimised (sway lets an unfocused X window ask), it goes to the tray.
        # xdg-shell never tells a client that it was minimised.
        if shell == "xwayland":
            s.run(["swaymsg", '[title="^%s$"] focus' % MINI_TITLE], check=True)
            s.run(["xdotool", "windowminimize", str(main_node["window"])], check=True)
            wait_for(lambda: s.window(MAIN_TITLE) is None, 10, "the window to leave for the tray")
            choose(s, item, "Show Main")
            wait_for(lambda: s.window(MAIN_TITLE, True), 10, "Show Main to bring it back")

        choose(s, item, "E_xit")
        wait_for(lambda: app.poll() is not None, 10, "E&xit to end the program")
        wait_for(lambda: sni_items(s) == [], 5, "the item to leave waybar")


if __name__ == "__main__":
    main(("sway", "waybar", "grim", "Xwayland", "dbus-daemon", "gdbus", "xdotool", "swaymsg"),
         scenario, Session)
