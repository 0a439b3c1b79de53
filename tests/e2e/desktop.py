"""What the desktop tests (and bench/, tests/windows) share: a private session whose
processes all end with the driver, X windows as xwininfo and xprop see them, xdotool's
input, a tray host's D-Bus calls, and main(): exit 0 passed, 1 failed, 77 skipped."""

import ctypes
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


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


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
            p.wait()

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
        self.env.update(env, LC_ALL="C.UTF-8", HOME=self.tmp,
                        XDG_CONFIG_HOME=os.path.join(self.tmp, "config"),
                        XDG_RUNTIME_DIR=os.path.join(self.tmp, "runtime"))
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        if bus:
            bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                             stdout=subprocess.PIPE, text=True)
            self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()

    def start_x(self, bus=True):
        r, w = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten",
                    "tcp", "-noreset"], pass_fds=(w,))
        os.close(w)
        with os.fdopen(r) as f:
            number = f.readline().strip()
        if not number.isdigit():
            raise Skip("no X server could start (Xvfb failed)")
        self.start_session(bus, DISPLAY=":" + number, QT_QPA_PLATFORM="xcb")

    def start_desktop(self, tray=True):  # openbox, and trayer (an XEmbed tray) if tray
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
        pattern = re.compile(r'^\s*(0x[0-9a-f]+) (?:"(.*?)"|\(has no name\)):\s*'
                             r'(?:\("([^"]*)"[^)]*\))?.*?\s(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+'
                             r'\+(-?\d+)\+(-?\d+)')
        rows = map(pattern.match, self.run(["xwininfo", "-root", "-tree"]).splitlines())
        return [(int(m[1], 16), m[2] or "", m[3] or "") + tuple(int(v) for v in m.groups()[3:])
                for m in rows if m]

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

    def screenshot(self, name, crop=None):
        if self.artefacts and self.env:
            os.makedirs(self.artefacts, exist_ok=True)
            self.shots.append(os.path.join(self.artefacts, name))
            self.run(["import", "-window", "root"] + (["-crop", crop, "+repage"] if crop else [])
                     + [self.shots[-1]])


def write_settings(d, lines):
    write(os.path.join(d.env["XDG_CONFIG_HOME"], "ZarnDev", "Zarn Bandwidth.conf"),
          "[General]\n" + "".join(line + "\n" for line in lines))


def main_window(d):
    return next(iter(d.windows_named(MAIN_TITLE)), None)


def hidden_in_tray(d, wid):  # hidden, not minimised: the window manager lets go of it entirely
    return wid is None or (not d.viewable(wid) and d.wm_state(wid) in ("", "Withdrawn")
                           and wid not in d.root_windows("_NET_CLIENT_LIST"))


def starts_hidden(d):
    time.sleep(0.5)  # time for a window that should not come to show
    if not hidden_in_tray(d, main_window(d)):
        raise Failure("started with -startup, the main window is not hidden")


def minimise_to_tray(d, wid):
    d.run(["xdotool", "windowminimize", str(wid)], check=True)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")


def in_front(d, what):  # waits for the main window, shown, normal and active
    wid = wait_for(lambda: main_window(d), 5, what)
    return wait_for(lambda: d.viewable(wid) and d.wm_state(wid) == "Normal"
                    and "HIDDEN" not in d.run(["xprop", "-id", str(wid), "_NET_WM_STATE"])
                    and d.run(["xdotool", "getactivewindow"]).strip() == str(wid) and wid, 5, what)


def open_menu(d, icon, exclude):  # icon None: the right button was already released on it
    if icon:
        d.click(icon, button=3)
    menu = wait_for(lambda: d.popup(d.instance, exclude), 5, "the tray icon's menu")
    time.sleep(0.3)  # the menu takes the keyboard once it is up
    return menu


def mini_window_above(d, wid):  # also when the main window is activated
    mini = wait_for(lambda: [w for w in d.windows_named(MINI_TITLE) if d.viewable(w)], 5,
                    "the mini window")[0]
    d.run(["xdotool", "windowactivate", "--sync", str(wid)])
    time.sleep(0.5)
    stacking = d.root_windows("_NET_CLIENT_LIST_STACKING")
    if mini not in stacking or wid not in stacking or stacking.index(mini) < stacking.index(wid):
        raise Failure("the mini window went below the active main window")
    return mini


def xfce_panel(d, plugins, position, env=None, prefix=()):
    """Starts xfce4-panel (after the command prefix) with one panel of the
    plugins, its layout in xfconf's folder under env's XDG_CONFIG_HOME."""
    env = env or d.env
    p = '<property name="%s" type="%s" value="%s"/>'
    ids = "".join('<value type="int" value="%d"/>' % (i + 1) for i in range(len(plugins)))
    named = "".join(p % ("plugin-%d" % (i + 1), "string", v) for i, v in enumerate(plugins))
    write(os.path.join(env["XDG_CONFIG_HOME"], "xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"),
          '<channel name="xfce4-panel" version="1.0">' + p % ("configver", "int", 2) +
          '<property name="panels" type="array"><value type="int" value="1"/><property '
          'name="panel-1" type="empty">' + p % ("position", "string", position) +
          p % ("length", "uint", 100) + p % ("size", "uint", 28) + '<property name='
          '"plugin-ids" type="array">%s</property></property></property><property name='
          '"plugins" type="empty">%s</property></channel>' % (ids, named))
    return d.spawn(list(prefix) + ["xfce4-panel", "--disable-wm-check"], env=env)


def sni(d, where, method, *args):  # a D-Bus call to where: (service, object path)
    return d.run(["gdbus", "call", "--session", "--dest", where[0], "--object-path", where[1],
                  "--method", method] + list(args), check=True)


def watcher(d, prop):  # as gdbus prints it; "" while there is no watcher
    try:
        return sni(d, WATCHER, GET, WATCHER[0], prop)
    except (Failure, subprocess.TimeoutExpired):
        return ""


def sni_items(d):  # as (service, object path)
    found = re.findall(r"'([^'/]+)(/?[^']*)'", watcher(d, "RegisteredStatusNotifierItems"))
    return [(service, path or "/StatusNotifierItem") for service, path in found]


def main(tools, scenario, session=Desktop):  # scenario(session, program); closes the session
    args = dict(zip(sys.argv[1::2], sys.argv[2::2]))  # --program PATH [--artefacts FOLDER]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    d, started = session(args.get("--artefacts")), time.monotonic()
    try:
        missing = [t for t in tools if not shutil.which(t)]
        if missing:
            raise Skip("missing tools: " + ", ".join(missing))
        scenario(d, os.path.abspath(args["--program"]))
    except Skip as e:
        print("SKIP: %s" % e)
        sys.exit(77)
    except Failure as e:
        print("FAIL: %s" % e)
        d.screenshot("failure.png")
        sys.exit(1)
    finally:
        d.close()
    step("passed in %.1f s" % (time.monotonic() - started))
