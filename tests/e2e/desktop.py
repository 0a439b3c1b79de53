#!/usr/bin/env python3
"""desktop.py --scenario NAME --program PATH [--artefacts FOLDER]: the program on a real desktop
in a private session (bench/ and tests/windows use it too); exit 0 passed, 1 failed, 77 skip."""

import contextlib
import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MAIN_TITLE, MINI_TITLE, INSTANCE = "Bandwidth Monitor", "MiniBandwidth", "zarn-bandwidth"
X_TOOLS = ("Xvfb", "dbus-daemon", "openbox", "xdotool", "xprop", "xwininfo")
WATCHER = ("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
GET = "org.freedesktop.DBus.Properties.Get"
PYTHON, ATSPI = "/usr/bin/python3", "/usr/libexec/at-spi-bus-launcher"
APP_ID = "example.zarndev.ZarnBandwidth"  # the launcher's id, the installed icon's name


class Failure(Exception):
    pass


class Skip(Exception):
    pass


def step(text):
    print("e2e: " + text, flush=True)


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.1)
    return value


def stays(predicate, what):  # predicate still holds a while later, or the Failure what
    time.sleep(0.8)
    if not predicate():
        raise Failure(what)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "w").write(text)


class Desktop:
    """Every process it starts ends with it, and with the driver however that ends."""
    instance = INSTANCE  # the instance name of the program's X windows
    user = {}  # Popen's user, group and extra_groups for every command

    def __init__(self, artefacts=None):
        self.artefacts, self.procs, self.shots, self.env = artefacts, [], [], None
        self.tmp = tempfile.mkdtemp(prefix="zarn-e2e-")

    def is_icon(self, instance, w, h):
        return instance == self.instance and (w, h) == (22, 22)

    def spawn(self, args, env=None, stdout=subprocess.DEVNULL, **kw):
        die_with_driver = lambda: ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # noqa: E731
        p = subprocess.Popen(args, env=env or self.env, stdout=stdout, stderr=subprocess.DEVNULL,
                             preexec_fn=die_with_driver, **self.user, **kw)
        self.procs.append(p)
        return p

    def stop(self, p):
        p.terminate()
        try:
            p.wait(3)
        except subprocess.TimeoutExpired:
            p.kill()

    def close(self):
        for p in reversed(self.procs):
            self.stop(p)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run(self, args, check=False):
        r = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=20,
                           **self.user)
        if check and r.returncode != 0:
            raise Failure("%s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def start_session(self, bus=True, **env):  # nothing of the user's: home and runtime in tmp
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("QT_", "DBUS_", "XDG_", "WAYLAND", "DISPLAY"))}
        self.env.update(env, LC_ALL="C.UTF-8", HOME=self.tmp, XDG_CONFIG_HOME=self.tmp + "/config",
                        XDG_RUNTIME_DIR=self.tmp + "/runtime")
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        write_settings(self, ["Adapter=1"])
        if bus:
            self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus("--session")

    def bus(self, *args):  # a private dbus-daemon's address
        p = self.spawn(["dbus-daemon", "--nofork", "--print-address=1"] + list(args),
                       stdout=subprocess.PIPE, text=True)
        return p.stdout.readline().strip()

    def start_x(self, bus=True):
        r, w = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten",
                    "tcp", "-noreset"], pass_fds=(w,))
        os.close(w)
        number = os.fdopen(r).readline().strip()
        if not number.isdigit():
            raise Skip("no X server could start (Xvfb failed)")
        self.start_session(bus, DISPLAY=":" + number, QT_QPA_PLATFORM="xcb")

    def start_desktop(self, tray=True):  # openbox (on Xvfb unless started), trayer if tray
        if not self.env:
            self.start_x()
        self.spawn(["openbox"])
        wait_for(lambda: "WINDOW" in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"]), 10,
                 "openbox to start")
        if tray:
            self.start_trayer()

    def start_trayer(self):
        self.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                    "--height", "24"])
        wait_for(self.trayer_panel, 10, "trayer's panel")

    def tree(self):  # (id, name, instance, width, height, absolute x, absolute y)
        rows = re.findall(
            r'(?m)^ *(0x[0-9a-f]+) (?:"(.*?)"|\(has no name\)): *(?:\("([^"]*)"[^)]*\))?.*? (\d+)x'
            r'(\d+)\S* +\+(-?\d+)\+(-?\d+)', self.run(["xwininfo", "-root", "-tree"]))
        return [(int(r[0], 16), r[1], r[2]) + tuple(map(int, r[3:])) for r in rows]

    def trayer_panel(self):
        return next((row for row in self.tree() if row[1:3] == ("panel", "panel")), None)

    def docked_icon(self):  # the centre of the program's icon in trayer's panel
        _, _, _, pw, ph, px, py = self.trayer_panel() or (0,) * 7
        return next(((x + w // 2, y + h // 2) for _, _, inst, w, h, x, y in self.tree()
                     if self.is_icon(inst, w, h) and px <= x < px + pw and py <= y < py + ph), None)

    def windows_named(self, title):
        return [int(w) for w in self.run(["xdotool", "search", "--name", "^%s$" % title]).split()]

    def viewable(self, wid):
        return "IsViewable" in self.run(["xwininfo", "-id", str(wid)])

    def wm_state(self, wid):  # "Normal", "Iconic", "Withdrawn" or "" (none)
        m = re.search(r"window state: (\w+)", self.run(["xprop", "-id", str(wid), "WM_STATE"]))
        return m[1] if m else ""

    def root_windows(self, prop):
        return [int(w, 16) for w in re.findall(r"0x[0-9a-f]+", self.run(["xprop", "-root", prop]))]

    def popup(self, instance, exclude):  # a menu of instance, shown, not in exclude
        return next((wid for wid, name, inst, w, h, _, _ in self.tree()
                     if inst.lower() == instance and wid not in exclude and w > 60 and h > 40
                     and name not in (MAIN_TITLE, MINI_TITLE) and self.viewable(wid)), None)

    def click(self, pos, button=1, repeat=1):
        self.run(["xdotool", "mousemove", str(pos[0]), str(pos[1]), "click", "--repeat",
                  str(repeat), "--delay", "80", str(button)], check=True)

    def keys(self, *names):
        self.run(["xdotool", "key", "--delay", "60"] + list(names), check=True)

    def choose(self, item, label):  # clicks the entry labelled so, as the host does; all labels
        menu = (item[0], re.search(r"objectpath '([^']+)'",
                                   sni(self, item, GET, "org.kde.StatusNotifierItem", "Menu"))[1])
        layout = sni(self, menu, "com.canonical.dbusmenu.GetLayout", "0", "--", "-1", "[]")
        entries = dict(map(reversed, re.findall(r"\((\d+), \{[^}]*'label': <'([^']*)'>", layout)))
        sni(self, menu, "com.canonical.dbusmenu.Event", entries[label], "clicked", "<0>", "0")
        return list(entries)

    def screenshot(self, name, crop=None):
        if self.artefacts and self.env:
            os.makedirs(self.artefacts, exist_ok=True)
            self.shots.append(os.path.join(self.artefacts, name))
            self.run(["import", "-window", "root"] + (["-crop", crop, "+repage"] if crop else [])
                     + [self.shots[-1]])


def write_settings(d, lines):  # keys before any [section] are QSettings' General ones
    write(d.env["XDG_CONFIG_HOME"] + "/ZarnDev/Zarn Bandwidth.conf", "\n".join(lines) + "\n")


def main_window(d):
    return next(iter(d.windows_named(MAIN_TITLE)), None)


def hidden_in_tray(d, wid):  # hidden, not minimised: the window manager lets go of it entirely
    return wid is None or wid not in d.root_windows("_NET_CLIENT_LIST") and not d.viewable(wid)


def starts_hidden(d):  # given time for a window that should not come to show
    stays(lambda: hidden_in_tray(d, main_window(d)), "with -startup the main window showed")


def minimise_to_tray(d, wid):
    d.run(["xdotool", "windowminimize", str(wid)], check=True)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")


def in_front(d, what):  # waits for the main window, shown, normal and active
    return wait_for(lambda: (wid := main_window(d)) and d.viewable(wid) and d.wm_state(wid) ==
                    "Normal" and d.run(["xdotool", "getactivewindow"]).strip() == str(wid) and wid,
                    5, what)


def open_menu(d, icon, exclude, *keys):  # icon None: the right button was released on it
    if icon:  # GTK keeps a menu's window between uses: only a newly shown one counts
        exclude = set(exclude) | {r[0] for r in d.tree() if r[2] == d.instance and d.viewable(r[0])}
        d.click(icon, button=3)
    menu = wait_for(lambda: d.popup(d.instance, exclude), 5, "the tray icon's menu")
    time.sleep(0.3)  # the menu takes the keyboard once it is up
    if keys:
        d.keys(*keys)
    return menu


def show_mini(d, icon, wid):  # by the tray menu, again from minimised: off the taskbar, on top
    for again in (False, True):
        open_menu(d, icon, (), "Down", "Down", "Return")
        mini = wait_for(lambda: [w for w in d.windows_named(MINI_TITLE) if d.viewable(w)], 5,
                        "the mini window")[0]
        state = d.run(["xprop", "-id", str(mini), "_NET_WM_STATE"])
        if not all("_NET_WM_STATE_" + s in state for s in ("ABOVE", "SKIP_TASKBAR", "SKIP_PAGER")):
            raise Failure("the mini window's " + state.strip())
        if not again:
            d.run(["xdotool", "windowminimize", "--sync", str(mini)], check=True)
    d.run(["xdotool", "windowactivate", "--sync", str(wid)])
    stays(lambda: [w for w in d.root_windows("_NET_CLIENT_LIST_STACKING") if w in (wid, mini)]
          == [wid, mini], "the mini window went below the active main window")


def start_again(d, program, *args, icons=1):  # the running copy takes it: ends with 0, no icon
    again = d.spawn([program] + list(args))
    wait_for(lambda: again.poll() is not None, 10, "a second start to end")
    if again.returncode or len([r for r in d.tree() if d.is_icon(*r[2:5])]) != icons:
        raise Failure("a second start ended with %d, leaving another icon" % again.returncode)


def xfce_panel(d, plugins, position, env=None, prefix=()):
    # xfce4-panel (after the command prefix), one panel of the plugins, in env's xfconf folder
    env, p = env or d.env, '<property name="%s" type="%s" value="%s"/>'
    ids = "".join('<value type="int" value="%d"/>' % (i + 1) for i in range(len(plugins)))
    named = "".join(p % ("plugin-%d" % (i + 1), "string", v) for i, v in enumerate(plugins))
    write(env["XDG_CONFIG_HOME"] + "/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
          '<channel name="xfce4-panel" version="1.0">' + p % ("configver", "int", 2) +
          '<property name="panels" type="array"><value type="int" value="1"/><property '
          'name="panel-1" type="empty">' + p % ("position", "string", position) +
          p % ("length", "uint", 100) + p % ("size", "uint", 28) + '<property name='
          '"plugin-ids" type="array">%s</property></property></property><property name='
          '"plugins" type="empty">%s</property></channel>' % (ids, named))
    return d.spawn(list(prefix) + ["xfce4-panel", "--disable-wm-check"], env=env)


@contextlib.contextmanager
def netns(d):  # the command prefix into a namespace of the test's own, iperf3 serving its lo
    ns = "zarn-e2e-%d" % os.getpid()
    subprocess.run(["ip", "netns", "add", ns], check=True)
    try:
        subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        d.spawn(["ip", "netns", "exec", ns, "iperf3", "-s"])
        # A client started before the server listens gets no traffic at all.
        wait_for(lambda: ":5201 " in d.run(["ip", "netns", "exec", ns, "ss", "-ltnH"]), 10,
                 "iperf3 to listen")
        yield ["ip", "netns", "exec", ns]
    finally:
        subprocess.run(["ip", "netns", "del", ns], capture_output=True)


def at_dunst(d, summaries, what):  # until dunst has shown exactly these, in any order
    wait_for(lambda: d.run(["dunstctl", "close-all"]) or sorted(summaries) == sorted(
        e["summary"]["data"] for e in json.loads(d.run(["dunstctl", "history"]))["data"][0]),
        30, what)


def sni(d, where, method, *args, check=True):  # a D-Bus call to where: (service, object path)
    return d.run(["gdbus", "call", "--session", "--dest", where[0], "--object-path", where[1],
                  "--method", method] + list(args), check=check)


def watcher(d, prop):  # as gdbus prints it; "" while there is no watcher
    return sni(d, WATCHER, GET, WATCHER[0], prop, check=False)


def sni_items(d):  # as (service, object path); GNOME's extension lists them as "service@path"
    found = re.findall(r"'([^'/@]+)@?(/?[^']*)'", watcher(d, "RegisteredStatusNotifierItems"))
    return [(service, path or "/StatusNotifierItem") for service, path in found]


def on_taskbar(d, what):  # the main window minimised, and it stays so: never withdrawn
    wid = wait_for(lambda: (w := main_window(d)) and d.wm_state(w) == "Iconic" and w, 15, what)
    stays(lambda: d.wm_state(wid) == "Iconic" and wid in d.root_windows("_NET_CLIENT_LIST"),
          what + ": it left the taskbar")
    return wid


def tray(d, program):
    """openbox: -startup, no tray: on the taskbar; trayer (XEmbed) comes: icon, clicks, menu;
    a second start hands over to the running copy; a start after a crash runs."""
    d.start_desktop(tray=False)
    app = d.spawn([program, "-startup"])
    wid = on_taskbar(d, "the main window, minimised with no tray on the desktop")
    d.start_trayer()
    icon = wait_for(d.docked_icon, 15, "the icon to dock in the tray that came")
    d.click(icon, repeat=2)
    minimise_to_tray(d, in_front(d, "the double-click to bring the window back"))
    start_again(d, program)
    minimise_to_tray(d, in_front(d, "a second start to bring the running copy's window back"))
    d.run(["xdotool", "mousemove", str(icon[0]), str(icon[1]), "mousedown", "3"], check=True)
    stays(lambda: not d.popup(INSTANCE, {wid}), "the right button's press opened the tray menu")
    d.run(["xdotool", "mouseup", "3"], check=True)
    open_menu(d, None, {wid}, "Down", "Return")
    in_front(d, "Show Main to bring the window back")
    show_mini(d, icon, wid)
    start_again(d, program, "--show-usage")
    wait_for(lambda: any(map(d.viewable, d.windows_named("Usage"))), 5, "the Usage window")
    menu = open_menu(d, icon, ())
    _, _, _, w, h, x, y = next(row for row in d.tree() if row[0] == menu)
    d.click((x + w // 2, y + h - 8), button=3)  # on E&xit, the last item
    stays(lambda: app.poll() is None, "a right click on E&xit ended the program")
    d.click((x + w // 2, y + h - 8))
    wait_for(lambda: app.poll() is not None, 5, "E&xit to end the program")
    for crashes in (True, False):  # a copy that crashes, and the start after it
        app = d.spawn([program, "-startup"])
        wait_for(d.docked_icon, 15, "the icon of a start after E&xit or a crash")
        if crashes:
            app.send_signal(signal.SIGKILL)
            wait_for(lambda: not d.docked_icon(), 5, "the crashed copy's icon to go")
    start_again(d, program, "-startup")  # the start after the crash took its place
    stays(lambda: app.poll() is None, "the start after a crash ended")


def xfce(d, program):
    """XFCE's panel: its systray plugin, a StatusNotifierItem host, draws the menu itself; with
    the icon hidden a data-cap warning still reaches dunst; a veth's box records it at once."""
    d.instance = "wrapper-2.0"  # the plugin's own process, whose menus open_menu looks for
    d.start_desktop(tray=False)
    xfce_panel(d, ["systray", "tasklist"], "p=6;x=0;y=0")
    wait_for(lambda: "true" in watcher(d, "IsStatusNotifierHostRegistered"), 20, "the tray host")
    app = d.spawn([program, "-startup"])
    wait_for(lambda: sni_items(d), 15, "the item in xfce4-panel's tray")
    icon = wait_for(lambda: next(((x + w // 2, y + h // 2) for wid, _, inst, w, h, x, y in d.tree()
                                  if inst == d.instance and w > 10 and h > 10 and d.viewable(wid)),
                                 None), 5, "the icon in the panel")
    starts_hidden(d)
    d.click(icon)
    wid = in_front(d, "the click to bring the window back")
    minimise_to_tray(d, wid)
    open_menu(d, icon, (), "Down", "Return")
    in_front(d, "Show Main to bring the window back")
    show_mini(d, icon, wid)
    d.screenshot("xfce-desktop.png")  # its tasklist lists the main window alone
    open_menu(d, icon, (), "x")
    wait_for(lambda: app.poll() is not None, 5, "E&xit to end the program")
    if os.geteuid():
        return step("not root: no traffic for a data-cap warning with the icon hidden")
    d.spawn(["dunst"])
    with netns(d) as inside:  # 1 % of 10 MB received and sent on its lo, iperf3 at 2 MB/s
        write_settings(d, ["Adapter=1", "ShowTrayIcon=0", "HistoryInterfaces=lo",
                           "DataCapEnabled=1", "DataCapPeriod=daily", "DataCapAmount=0.01",
                           "DataCapWarnings=1"])
        app = d.spawn(inside + [program])
        d.spawn(inside + ["iperf3", "-c", "127.0.0.1", "-b16M", "-l1400", "-t30"])
        at_dunst(d, ["lo: 1 % of the data cap used"], "the warning at dunst, the icon hidden")
        # A veth is left out of the history until its box is ticked, and then is in it at once.
        d.stop(app)
        d.run(inside + ["ip", "link", "add", "zveth0", "type", "veth", "peer", "name", "zveth1"])
        write_settings(d, ["Adapter=" + d.run(inside + ["cat", "/sys/class/net/zveth0/ifindex"])])
        d.spawn(inside + [program, "--show-usage"])
        shown = wait_for(lambda: [w for w in d.windows_named("Usage") if d.viewable(w)], 15,
                         "the Usage window")
        if d.run(inside + [program, "--usage", "zveth0"]):
            raise Failure("zveth0 was recorded before its box was ticked")
        d.run(["xdotool", "windowactivate", "--sync", str(shown[0])], check=True)
        time.sleep(0.5)  # until Qt takes the focus that X gave, which access keys need
        d.keys("alt+u")
        wait_for(lambda: d.run(inside + [program, "--usage", "zveth0"]), 5, "zveth0 recorded")


def print_label(pattern):  # by PYTHON: the first group of a shown label of the program's
    import pyatspi
    for app in [a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "Zarn Bandwidth"]:
        for label in pyatspi.findAllDescendants(app, lambda a: a.getRoleName() == "label" and
                                                a.getState().contains(pyatspi.STATE_SHOWING)):
            if m := re.fullmatch(pattern, label.name):
                print(m[1])


def label(d, pattern):
    return subprocess.run([PYTHON, __file__, "--label", pattern], env=d.env, text=True,
                          capture_output=True, timeout=20).stdout.strip()


def usage(d, program):
    """The Usage window from trayer's menu shows iperf3's 2 MB/s; the cap's warnings at dunst."""
    if os.geteuid() or subprocess.run([PYTHON, "-c", "import pyatspi"]).returncode:
        raise Skip("needs root and python3-pyatspi")
    d.start_desktop()
    d.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
    d.spawn([ATSPI, "--launch-immediately"])
    d.spawn(["dunst"])
    with netns(d) as inside:
        # lo counts once named for the history. 20 MB a day: 2 MB/s, in and out, uses it up.
        write_settings(d, ["Adapter=1", "HistoryInterfaces=lo", "DataCapEnabled=1",
                           "DataCapPeriod=daily", "DataCapAmount=0.02", "DataCapWarnings=50 100"])
        d.spawn(inside + [program, "-startup"])
        icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
        starts_hidden(d)
        client = d.spawn(inside + ["iperf3", "-c", "127.0.0.1", "-b16M", "-l1400", "-t60"])
        d.click(icon, repeat=2)
        open_menu(d, icon, {in_front(d, "the double-click to bring the window back")}, "u")
        wait_for(lambda: any(map(d.viewable, d.windows_named("Usage"))), 5, "the Usage window")
        for _ in range(30):  # until the label shows, and past ticks that took in iperf3's start
            shown = float(label(d, r"Download: ([\d.]+) k/sec") or 0) * 1000
            if 1_600_000 <= shown <= 2_600_000:
                break
        else:
            raise Failure("the live graph showed %d byte/sec for iperf3's 2,000,000" % shown)
        d.keys("alt+d")  # today in a unit people read, not a ten-digit count of bytes
        wait_for(lambda: label(d, r"(Today: [\d.]+ [kMGT]?B received, [\d.]+ [kMGT]?B sent)"),
                 5, "a readable Today line")
        at_dunst(d, ["lo: 100 % of the data cap used", "lo: 50 % of the data cap used"],
                 "the data cap's two warnings at dunst")
        # A size typed key by key counts once typed. Under a cap of 9 GB a level is set that what
        # lo carried reaches at 0.4 GB but not at 0.49 GB: typing "0.49" must not warn of it.
        d.stop(client)
        time.sleep(2)
        used = sum(int(d.run(inside + ["cat", "/sys/class/net/lo/statistics/" + f]))
                   for f in ("rx_bytes", "tx_bytes"))
        for control, text in (("alt+z", "9"), ("alt+a", str(used // 4_000_000)), ("alt+z", "0.49")):
            d.keys("alt+c", control, "ctrl+a")
            d.run(["xdotool", "type", "--delay", "150", text], check=True)
            d.keys("Return")
        wait_for(lambda: "DataCapAmount=0.49\n" in open(d.env["XDG_CONFIG_HOME"] + "/ZarnDev/"
                                                       "Zarn Bandwidth.conf").read(), 5, "0.49 GB")
        stays(lambda: d.run(["dunstctl", "close-all"]) or d.run(["dunstctl", "count", "history"])
              == "2\n", "no warning on the way to 0.49 GB")


class Sway(Desktop):
    """A headless sway, waybar its StatusNotifierItem host; as "nobody" (sway refuses root)."""
    user = dict(user="nobody", group="nogroup", extra_groups=[]) if os.geteuid() == 0 else {}

    def start(self, program):
        self.start_session()
        config, where = self.env["XDG_CONFIG_HOME"], self.env["XDG_RUNTIME_DIR"] + "/env"
        write(config + "/waybar/config", '{"height": 26, "modules-right": ["tray"]}')
        write(config + "/sway/config", "output HEADLESS-1 resolution 1280x800\nbar swaybar_command"
              " waybar\nexec echo WAYLAND_DISPLAY=$WAYLAND_DISPLAY SWAYSOCK=$SWAYSOCK DISPLAY="
              "$DISPLAY > " + where)
        shutil.copy(program, self.tmp)  # where the session's user can run it
        if self.user:  # all of tmp: HOME, the settings, the runtime folder, the program
            subprocess.run(["chown", "-R", "nobody:nogroup", self.tmp], check=True)
        self.spawn(["sway"], env=dict(self.env, WLR_BACKENDS="headless", WLR_RENDERER="pixman",
                                      WLR_LIBINPUT_NO_DEVICES="1"))
        # sway's display and socket, and Xwayland's display, as sway hands them to what it starts
        self.env.update(s.split("=") for s in wait_for(
            lambda: os.path.exists(where) and open(where).read().split(), 20, "sway"))
        wait_for(lambda: "true" in watcher(self, "IsStatusNotifierHostRegistered"), 20,
                 "waybar's tray")

    def bar(self):  # the pixels of waybar's tray
        return subprocess.run(["grim", "-g", "1000,0 280x26", "-"], env=self.env,
                              capture_output=True, check=True, **self.user).stdout

    def window(self, title, front=False):  # sway's node of it (only when focused, if front)
        todo = [json.loads(self.run(["swaymsg", "-t", "get_tree"], check=True))]
        for node in todo:  # todo grows as the walk goes
            todo += node.get("nodes", []) + node.get("floating_nodes", [])
            if node.get("name") == title and (not front or node["focused"] and node["visible"]):
                return node


def wayland(s, program):
    """Through Xwayland (its choice), then as a Wayland client; waybar's clicks go over D-Bus."""
    os.stat("/usr/lib/%s-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so"  # qt6-wayland
            % os.uname().machine)
    s.start(program)
    for shell, env in (("xwayland", s.env), ("xdg_shell", dict(s.env, QT_QPA_PLATFORM="wayland"))):
        step("the program as %s" % shell)
        bar = s.bar()
        app = s.spawn([os.path.join(s.tmp, os.path.basename(program)), "-startup"], env=env)
        item = wait_for(lambda: sni_items(s), 20, "the item to register with waybar")[0]
        wait_for(lambda: s.bar() != bar, 10, "the icon in waybar")
        stays(lambda: not s.window(MAIN_TITLE), "with -startup the main window showed")
        sni(s, item, "org.kde.StatusNotifierItem.Activate", "0", "0")
        node = wait_for(lambda: (n := s.window(MAIN_TITLE, True)) and n["shell"] == shell and n,
                        10, "Activate to bring the window in front, a %s client" % shell)
        s.choose(item, "Show Mini Bandiwdth Monitor")
        wait_for(lambda: s.window(MINI_TITLE), 10, "the mini window")
        if shell == "xwayland":  # sway minimises an X window that asks while unfocused
            s.run(["swaymsg", '[title="^%s$"] focus' % MINI_TITLE], check=True)
            s.run(["xdotool", "windowminimize", str(node["window"])], check=True)
            wait_for(lambda: s.window(MAIN_TITLE) is None, 10, "the window to leave for the tray")
            s.choose(item, "Show Main")
            wait_for(lambda: s.window(MAIN_TITLE, True), 10, "Show Main to bring it back")
        # A second start hands over. sway marks an X window that asks to come forward
        # urgent; a native client cannot ask (no token), but opens its Usage window.
        title, more = (MAIN_TITLE, []) if shell == "xwayland" else ("Usage", ["--show-usage"])
        s.run(["swaymsg", '[title="^%s$"] focus' % MINI_TITLE], check=True)
        again = s.spawn([app.args[0]] + more, env=env)
        wait_for(lambda: again.poll() is not None, 10, "a second start to end")
        wait_for(lambda: (n := s.window(title)) and (n["focused"] or n["urgent"]), 10,
                 "a second start to bring %s forward" % title)
        if again.returncode or len(sni_items(s)) != 1:
            raise Failure("a second start ended with %d, beside another item" % again.returncode)
        s.choose(item, "E_xit")
        wait_for(lambda: app.poll() is not None, 10, "E&xit to end the program")
        wait_for(lambda: sni_items(s) == [], 5, "the item to leave waybar")


class Gnome(Desktop):
    """A headless GNOME Shell (Wayland) with its Xwayland; the AppIndicator extension if asked."""

    def start(self, extension):
        self.start_session()
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.bus(  # logind's stand-in: the shell needs one
            "--config-file=/usr/share/dbus-1/session.conf")
        shell = self.spawn(["gnome-shell", "--headless", "--virtual-monitor", "1280x800"])
        self.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions",  # installed for all
                  "['ubuntu-appindicators@ubuntu.com']" if extension else "[]"], check=True)
        self.watch_notify()
        # Xwayland's display: mutter passes over numbers that other sessions left sockets for
        x = wait_for(lambda: self.run(["pgrep", "-a", "-P", str(shell.pid), "Xwayland"]).split(),
                     20, "GNOME Shell's Xwayland")
        self.env.update(WAYLAND_DISPLAY="wayland-0", DISPLAY=x[2],
                        XAUTHORITY=x[x.index("-auth") + 1])
        shell = ("org.gnome.Shell", "/org/gnome/Shell")  # it starts in the overview: out of it
        wait_for(lambda: "true" in sni(self, shell, GET, shell[0], "OverviewActive", check=False),
                 20, "GNOME Shell to start")
        sni(self, shell, GET[:-3] + "Set", shell[0], "OverviewActive", "<false>")
        self.owned(["org.freedesktop.Notifications"] + [WATCHER[0]] * extension)

    def owned(self, names):  # waits for these names to have owners
        # Asked before the desktop's own server has the name, the bus would start another one
        for name in names:
            wait_for(lambda: "true" in sni(self, ("org.freedesktop.DBus", "/"),
                                           "org.freedesktop.DBus.NameHasOwner", name), 20, name)

    def watch_notify(self):
        self.spawn(["dbus-monitor", "type='method_call',member='Notify'", "type='method_return'"],
                   stdout=open(self.tmp + "/bus.log", "w"))  # what notified() reads

    def notified(self, summary):  # a Notify of summary and the server's reply (its id): the call
        m = re.search(r'(?ms)^method call [^\n]* sender=(\S+) [^\n]* serial=(\d+) [^\n]*member='
                      r'Notify\n((?:   [^\n]*\n)*?   string "%s"\n(?:   [^\n]*\n)*).*^method '
                      r'return [^\n]* destination=\1 serial=\d+ reply_serial=\2\n   uint32 [1-9]'
                      % re.escape(summary), open(self.tmp + "/bus.log").read())
        return m and " ".join(m[3].split())  # its arguments, one blank between words


class Plasma(Gnome):
    """A headless KDE Plasma 5.27 on Xvfb: kwin, kded5's StatusNotifierWatcher, plasmashell's
    tray and notification server."""

    def start(self, extension):
        if not shutil.which("plasmashell"):
            raise Skip("plasmashell is missing (plasma-desktop, kwin-x11)")
        self.start_x(bus=False)
        self.env.update(XDG_CURRENT_DESKTOP="KDE", KDE_FULL_SESSION="true",
                        KDE_SESSION_VERSION="5", XDG_SESSION_TYPE="x11")
        # A bus that can start no other notification server (dunst's would take the name from
        # Plasma on the first Notify) and none of Plasma's stand-ins that wait for a name (they
        # outlive the bus). What the bus starts inherits this environment; the policy is
        # session.conf's.
        services, config = self.tmp + "/services", self.tmp + "/bus.conf"
        unwanted = re.compile("=org.freedesktop.Notifications\n|plasma_waitforname")
        shutil.copytree("/usr/share/dbus-1/services", services, ignore=lambda src, names: [
            n for n in names if unwanted.search(open(src + "/" + n).read())])
        write(config, '<busconfig><type>session</type><listen>unix:tmpdir=%s</listen><auth>'
              'EXTERNAL</auth><servicedir>%s</servicedir><policy context="default"><allow '
              'send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>'
              '</policy></busconfig>' % (self.tmp, services))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.bus("--config-file=" + config)
        self.watch_notify()
        for command in (["kwin_x11"], ["kded5"], ["plasmashell", "--no-respawn"]):
            self.spawn(command)
        wait_for(lambda: "true" in watcher(self, "IsStatusNotifierHostRegistered"), 30,
                 "Plasma's tray")
        self.owned(["org.freedesktop.Notifications"])


def gnome(g, program, extension):
    """GNOME Shell 43 (the program through Xwayland) or Plasma 5.27; their clicks go over D-Bus.
    The cap's warning names the program's icon and launcher, critical at 100 %."""
    if os.geteuid():
        raise Skip("needs root (the namespace of the data cap's traffic)")
    g.start(extension)
    with netns(g) as inside:
        write_settings(g, ["Adapter=1", "HistoryInterfaces=lo", "DataCapEnabled=1",
                           "DataCapAmount=0.00001"])  # 10 kB, 80 and 100 % crossed in one tick
        app = g.spawn(inside + [program, "-startup"])
        if extension:
            item = wait_for(lambda: sni_items(g), 15, "the item to register")[0]
            starts_hidden(g)
            for back in ("Activate to bring up the main window", "Activate to bring it back"):
                sni(g, item, "org.kde.StatusNotifierItem.Activate", "0", "0")
                minimise_to_tray(g, in_front(g, back))
            start_again(g, program, "--show-usage", icons=0)
            wait_for(lambda: any(map(g.viewable, g.windows_named("Usage"))), 5, "the Usage window")
        else:
            g.run(["xdotool", "windowactivate", str(on_taskbar(g, "-startup to minimise"))])
            g.run(["xdotool", "windowminimize", str(in_front(g, "the window from the taskbar"))])
            on_taskbar(g, "the window minimised with no tray")
            start_again(g, program, icons=0)  # it ends with 0, the first copy runs on
            in_front(g, "a second start to bring the window forward")
        g.run(inside + ["iperf3", "-c", "127.0.0.1", "-n", "100K"], check=True)
        call = wait_for(lambda: g.notified("lo: 100 % of the data cap used"), 15,
                        "the cap's warning at the desktop's notification server")
        step("the warning's Notify: " + call)
        for part in ('uint32 0 string "%s"' % APP_ID, 'string "urgency" variant byte 2 )',
                     'string "desktop-entry" variant string "%s" )' % APP_ID):
            if part not in call:
                raise Failure("the warning went without %s: %s" % (part, call))
        if extension:
            if (menu := g.choose(item, "E_xit")) != ["Show Main", "Show Mini Bandiwdth Monitor",
                                                     "_Usage", "E_xit"]:
                raise Failure("the item's menu lists %s" % menu)
            wait_for(lambda: app.poll() is not None, 10, "E&xit to end the program")


SCENARIOS = {"tray": (tray,), "xfce": (xfce,), "usage": (usage,), "wayland": (wayland, Sway),
             "gnome": (lambda g, p: gnome(g, p, True), Gnome),
             "gnome_stock": (lambda g, p: gnome(g, p, False), Gnome),
             "plasma": (lambda g, p: gnome(g, p, True), Plasma)}


def main(tools, scenario, session=Desktop):  # a missing tool or file skips; closes the session
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))  # --program PATH [--artefacts FOLDER]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    d = session(args.get("--artefacts"))
    try:
        if missing := [t for t in tools if not shutil.which(t)]:
            raise Skip("missing tools: " + ", ".join(missing))
        scenario(d, os.path.abspath(args["--program"]))
    except (Skip, FileNotFoundError) as e:
        print("SKIP: %s" % e)
        sys.exit(77)
    except Failure as e:
        print("FAIL: %s" % e)
        d.screenshot("failure.png")
        sys.exit(1)
    finally:
        d.close()


if sys.argv[1:2] == ["--label"]:
    print_label(sys.argv[2])
elif __name__ == "__main__":
    main((), *SCENARIOS[sys.argv[sys.argv.index("--scenario") + 1]])
