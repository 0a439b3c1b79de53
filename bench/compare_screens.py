#!/usr/bin/env python3
"""Screenshots of two builds of the program on the same X desktop (Xvfb,
openbox, trayer), one after the other, watching the same quiet interface
inside a network namespace that the caller made, and the number of pixels
that differ between them (ImageMagick's compare -metric AE): the main window
on each of its tabs, the mini window and the tray icon. A change that is
meant to cost less must show 0 everywhere.

    compare_screens.py --namespace NS --before PATH --after PATH [--keep DIR]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "e2e"))
from desktop import (MINI_TITLE, Desktop, Skip, main_window, open_menu,  # noqa: E402
                          wait_for, write_settings)


SEND_BYTES = """
import socket
r = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); r.bind(("127.0.0.1", 0))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _ in range(2000):
    s.sendto(b"x" * 1000, r.getsockname()); r.recv(2000)
"""


def shoot(d, wid, path):
    d.run(["import", "-window", str(wid), path], check=True)


def screens(d, program, ns, folder):
    """Takes every view of one build; returns {view: file}."""
    app = d.spawn(["ip", "netns", "exec", ns, program])
    shots = {}
    try:
        icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
        wid = wait_for(lambda: main_window(d), 10, "the main window")
        time.sleep(2)  # adopted, baseline taken, the rates written
        for view, keys in (("monitor", []), ("options", ["alt+o"]), ("adapter", ["alt+a"]),
                           ("monitor-again", ["alt+m"])):
            if keys:
                d.keys(*keys)
                time.sleep(0.7)
            shots[view] = os.path.join(folder, view + ".png")
            shoot(d, wid, shots[view])
        open_menu(d, icon, {wid})
        d.keys("Down", "Down", "Return")
        mini = wait_for(lambda: [w for w in d.windows_named(MINI_TITLE) if d.viewable(w)], 5,
                        "the mini window")[0]
        time.sleep(1)
        shots["mini"] = os.path.join(folder, "mini.png")
        shoot(d, mini, shots["mini"])
        x, y = icon
        shots["tray"] = os.path.join(folder, "tray.png")
        d.run(["import", "-window", "root", "-crop", "22x22+%d+%d" % (x - 11, y - 11), "+repage",
               shots["tray"]], check=True)
    finally:
        d.stop(app)
    return shots


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--namespace", required=True)
    parser.add_argument("--before", required=True)
    parser.add_argument("--after", required=True)
    parser.add_argument("--keep", help="folder to keep the screenshots in")
    args = parser.parse_args()
    folder = args.keep or tempfile.mkdtemp(prefix="zarn-screens-")
    d = Desktop(None)
    try:
        try:
            d.start_x(bus=False)
        except Skip as e:
            print(e)
            return 1
        d.start_desktop()
        write_settings(d, ["Adapter=1", "YellowThreshold=5000", "RedThreshold=10000"])
        # Some bytes on the namespace's loopback, then quiet: both builds show
        # the same totals, with digit groups.
        subprocess.run(["ip", "netns", "exec", args.namespace, "python3", "-c", SEND_BYTES],
                       check=True)
        taken = {}
        for name, program in (("before", args.before), ("after", args.after)):
            os.makedirs(os.path.join(folder, name), exist_ok=True)
            taken[name] = screens(d, program, args.namespace, os.path.join(folder, name))
        for view in taken["before"]:
            r = subprocess.run(["compare", "-metric", "AE", taken["before"][view],
                                taken["after"][view], "null:"], capture_output=True, text=True)
            print("  %-14s %s pixels differ" % (view, r.stderr.strip()))
        print("  screenshots in %s" % folder)
    finally:
        d.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
