#!/usr/bin/env python3
"""Zarn Bandwidth on real desktops, driven as a user would: scenarios.py --scenario NAME
--program PATH [--artefacts FOLDER] runs one of SCENARIOS (see desktop.main)."""

import json
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import *  # noqa: E402,F403


def tray(d, program):
    """openbox, no tray yet: -startup leaves the window minimised on the taskbar. trayer (an
    XEmbed tray) comes: the icon docks, a double-click brings the window back, minimised it
    hides in the tray; the menu opens on the right button's release, its items answer the
    left button only. Started again: hidden, and a single click does nothing."""
    d.start_x()
    d.start_desktop(tray=False)
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])
    wid = wait_for(lambda: main_window(d), 15, "the main window")
    wait_for(lambda: d.wm_state(wid) == "Iconic", 10, "the window to start minimised")
    time.sleep(1)
    if d.wm_state(wid) != "Iconic" or wid not in d.root_windows("_NET_CLIENT_LIST"):
        raise Failure("with no tray on the desktop the window left the taskbar")
    d.start_trayer()
    icon = wait_for(d.docked_icon, 15, "the icon to dock in the tray that came")
    d.click(icon, repeat=2)
    minimise_to_tray(d, in_front(d, "the double-click to bring the window back"))
    d.run(["xdotool", "mousemove", str(icon[0]), str(icon[1]), "mousedown", "3"], check=True)
    time.sleep(0.8)
    if d.popup(INSTANCE, {wid}):
        raise Failure("the right button's press opened the tray menu")
    d.run(["xdotool", "mouseup", "3"], check=True)
    open_menu(d, None, {wid})
    d.keys("Down", "Return")
    in_front(d, "Show Main to bring the window back")
    open_menu(d, icon, {wid})
    d.keys("Down", "Down", "Return")
    menu = open_menu(d, icon, {wid, mini_window_above(d, wid)})
    _, _, _, w, h, x, y = next(row for row in d.tree() if row[0] == menu)
    d.click((x + w // 2, y + h - 8), button=3)  # on E&xit, the last item
    time.sleep(0.8)
    if app.poll() is not None:
        raise Failure("a right click on E&xit ended the program")
    d.click((x + w // 2, y + h - 8))
    wait_for(lambda: app.poll() is not None, 5, "E&xit to end the program")
    wait_for(lambda: d.docked_icon() is None, 3, "the icon to leave the tray")
    d.spawn([program, "-startup"])
    d.click(wait_for(d.docked_icon, 15, "the icon in trayer's panel"))
    starts_hidden(d)


def xfce(d, program):
    """openbox with XFCE's panel, whose systray plugin is a StatusNotifierItem host drawing
    the menu itself: -startup keeps the window hidden, a left click brings it back, the
    panel's menu runs Show Main, Show Mini and E&xit."""
    d.instance = "wrapper-2.0"  # the plugin's own process, whose menus open_menu looks for
    d.start_x()
    d.start_desktop(tray=False)
    xfce_panel(d, ["systray"], "p=6;x=0;y=0")
    wait_for(lambda: "true" in watcher(d, "IsStatusNotifierHostRegistered"), 20, "the tray host")
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])
    item = wait_for(lambda: sni_items(d), 15, "the item in xfce4-panel's tray")[0]
    icon = wait_for(lambda: next(((x + w // 2, y + h // 2) for wid, _, inst, w, h, x, y in d.tree()
                                  if inst == d.instance and w > 10 and h > 10 and d.viewable(wid)),
                                 None), 5, "the icon in the panel")
    starts_hidden(d)
    d.click(icon)
    wid = in_front(d, "the click to bring the window back")
    minimise_to_tray(d, wid)

    def menu(*keys):  # GTK keeps a menu's window between uses: only a newly shown one counts
        open_menu(d, icon, {r[0] for r in d.tree() if r[2] == d.instance and d.viewable(r[0])})
        d.keys(*keys)

    menu("Down", "Return")
    in_front(d, "Show Main to bring the window back")
    menu("Down", "Down", "Return")
    mini_window_above(d, wid)
    menu("x")
    wait_for(lambda: app.poll() is not None, 5, "E&xit to end the program")
    wait_for(lambda: item not in sni_items(d), 5, "the item to leave the panel")


def print_rates():  # run by PYTHON: the live graph's download figure and the Monitor tab's
    import pyatspi
    labels, number = [], lambda t: int(t.replace(",", ""))  # noqa: E731

    def walk(node, depth):  # the labels shown, in screen coordinates
        for child in node if depth < 40 else []:
            try:
                if child.getRoleName() == "label" and child.getState().contains(
                        pyatspi.STATE_SHOWING):
                    e = child.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                    labels.append((e.x, e.y, child.name))
                walk(child, depth + 1)
            except Exception:  # None, or an object that went away while we looked
                continue

    walk((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "Zarn Bandwidth"), 0)
    graph = [number(m[1]) for *_, t in labels
             if (m := re.fullmatch(r"Download: ([\d,]+) byte/sec", t))]
    down = next(((x, y) for x, y, t in labels if t == "Down:"), (0, 0))
    # The Monitor tab's figure sits right of its caption, on the same line.
    monitor = sorted((x, number(t)) for x, y, t in labels
                     if abs(y - down[1]) <= 6 and x > down[0] and re.fullmatch(r"\d[\d,]*", t))
    if graph and monitor:
        print(graph[0], monitor[0][1])


PYTHON, ATSPI = "/usr/bin/python3", "/usr/libexec/at-spi-bus-launcher"


def usage(d, program):
    """The Usage window, opened from trayer's menu while the program, in a network namespace
    of its own, downloads over a veth link from a second one: its live figure must be the
    Monitor tab's (both read over the accessibility bus), and a small daily data cap's two
    warnings must reach a real notification server (dunst). Root only."""
    if os.geteuid() or not os.access(ATSPI, os.X_OK) or subprocess.run(
            [PYTHON, "-c", "import pyatspi"], capture_output=True).returncode:
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
        for n in ns:
            ip("netns", "add", n)
        ip("-n", ns[0], "link", "add", "zu0", "type", "veth", "peer", "name", "zu1", "netns", ns[1])
        for n, link, address in ((ns[0], "zu0", "10.77.0.1/24"), (ns[1], "zu1", "10.77.0.2/24")):
            ip("-n", n, "addr", "add", address, "dev", link)
            ip("-n", n, "link", "set", link, "up")
        d.spawn(["ip", "netns", "exec", ns[1], "iperf3", "-s", "-B", "10.77.0.2"])
        # A veth counts once named for the history. 20 MB a day, received and sent:
        # 16 Mbit/s uses it up in about ten seconds.
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

        def rates():
            out = subprocess.run([PYTHON, __file__, "--rates"], env=d.env, capture_output=True,
                                 text=True, timeout=20).stdout.split()
            return out and [int(v) for v in out]

        readings = []  # a tick may fall between the two labels' readings: one of a few must agree
        for _ in range(5):
            graph, monitor = wait_for(rates, 10, "both rates on the a11y bus")
            readings.append((graph, monitor))
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


class Sway(Desktop):
    """A headless sway with waybar, whose tray is a StatusNotifierItem host. sway refuses
    to run as root, so as root the whole session runs as "nobody"."""

    def start(self, program):
        os.chmod(self.tmp, 0o755)
        if os.geteuid() == 0:
            self.user = dict(user="nobody", group="nogroup", extra_groups=[])
        self.start_session()
        config = self.env["XDG_CONFIG_HOME"]
        write_settings(self, ["Adapter=1"])
        write(config + "/waybar/config", '{"position": "top", "height": 26, "modules-right": ["tray"]}')
        write(config + "/sway/config", "output HEADLESS-1 resolution 1280x800\nbar {\n swaybar_command waybar\n}\n")
        shutil.copy(program, self.tmp)  # where the session's user can run it
        if self.user:
            subprocess.run(["chown", "-R", "nobody:nogroup", self.tmp], check=True)
        self.spawn(["sway"], env=dict(self.env, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                                      WLR_LIBINPUT_NO_DEVICES="1"))
        runtime = self.env["XDG_RUNTIME_DIR"]
        socket = wait_for(lambda: [f for f in os.listdir(runtime) if "sway-ipc" in f], 20, "sway")
        self.env.update(WAYLAND_DISPLAY="wayland-1", SWAYSOCK=os.path.join(runtime, socket[0]))
        wait_for(lambda: "true" in watcher(self, "IsStatusNotifierHostRegistered"), 20,
                 "waybar's tray")
        where = os.path.join(runtime, "display")  # Xwayland's, as sway hands it to what it starts
        self.run(["swaymsg", "exec", "echo $DISPLAY > " + where], check=True)
        self.env["DISPLAY"] = wait_for(lambda: os.path.exists(where) and open(where).read().strip(),
                                       5, "sway's X display")

    def bar(self):  # the pixels of waybar's tray
        return subprocess.run(["grim", "-g", "1000,0 280x26", "-"], env=self.env,
                              capture_output=True, check=True, **self.user).stdout

    def window(self, title, front=False):  # sway's node of it (only when focused, if front)
        todo = [json.loads(self.run(["swaymsg", "-t", "get_tree"], check=True))]
        while todo:
            node = todo.pop()
            todo += node.get("nodes", []) + node.get("floating_nodes", [])
            if node.get("name") == title and (not front or node["focused"] and node["visible"]):
                return node

    def choose(self, item, label):  # the menu entry labelled so, as the host does for a click
        menu = (item[0], re.search(r"objectpath '([^']+)'",
                                   sni(self, item, GET, "org.kde.StatusNotifierItem", "Menu"))[1])
        layout = sni(self, menu, "com.canonical.dbusmenu.GetLayout", "0", "--", "-1", "[]")
        entry = re.search(r"\((\d+), \{[^}]*'label': <'%s'>" % re.escape(label), layout)
        sni(self, menu, "com.canonical.dbusmenu.Event", entry[1], "clicked", "<0>", "0")


def wayland(s, program):
    """The program in sway, once as it starts by itself (an X client through Xwayland), once
    as a native Wayland client. With -startup its icon shows in waybar and no window; Activate
    brings the window back in front; Show Mini shows the mini window; minimised (the X client
    only) it goes to the tray and Show Main brings it back; E&xit ends it and takes the icon
    away. The seat has no pointer: what waybar does for a click is sent over D-Bus."""
    if not os.path.exists("/usr/lib/%s-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"
                          % os.uname().machine):
        raise Skip("Qt's Wayland platform is not installed (Debian: qt6-wayland)")
    s.start(program)
    for shell, env in (("xwayland", s.env), ("xdg_shell", dict(s.env, QT_QPA_PLATFORM="wayland"))):
        step("the program as %s" % shell)
        bar = s.bar()
        app = s.spawn([os.path.join(s.tmp, os.path.basename(program)), "-startup"], env=env)
        item = wait_for(lambda: sni_items(s), 20, "the item to register with waybar")[0]
        wait_for(lambda: s.bar() != bar, 10, "the icon in waybar")
        time.sleep(0.5)
        if s.window(MAIN_TITLE):
            raise Failure("started with -startup, the main window is on the screen")
        sni(s, item, "org.kde.StatusNotifierItem.Activate", "0", "0")
        node = wait_for(lambda: s.window(MAIN_TITLE, True), 10, "Activate to bring it back")
        if node.get("shell") != shell:
            raise Failure("the program ran as %s, not %s" % (node.get("shell"), shell))
        s.choose(item, "Show Mini Bandiwdth Monitor")
        wait_for(lambda: s.window(MINI_TITLE), 10, "the mini window")
        if shell == "xwayland":  # sway minimises an unfocused X window that asks; Wayland never
            s.run(["swaymsg", '[title="^%s$"] focus' % MINI_TITLE], check=True)
            s.run(["xdotool", "windowminimize", str(node["window"])], check=True)
            wait_for(lambda: s.window(MAIN_TITLE) is None, 10, "the window to leave for the tray")
            s.choose(item, "Show Main")
            wait_for(lambda: s.window(MAIN_TITLE, True), 10, "Show Main to bring it back")
        s.choose(item, "E_xit")
        wait_for(lambda: app.poll() is not None, 10, "E&xit to end the program")
        wait_for(lambda: sni_items(s) == [], 5, "the item to leave waybar")


SCENARIOS = {"tray": (X_TOOLS + ("trayer",), tray),
             "xfce": (X_TOOLS + ("xfce4-panel", "gdbus"), xfce),
             "usage": (X_TOOLS + ("trayer", "dunst", "dunstctl", "iperf3", "ip"), usage),
             "wayland": (("sway", "waybar", "grim", "Xwayland", "dbus-daemon", "gdbus", "xdotool",
                          "swaymsg"), wayland, Sway)}

if __name__ == "__main__":
    if sys.argv[1:] == ["--rates"]:
        print_rates()
    else:
        main(*SCENARIOS[sys.argv[sys.argv.index("--scenario") + 1]])

