#!/usr/bin/env python3
"""Zarn Bandwidth on Xvfb with openbox. With no tray, -startup leaves the
window minimised on the taskbar; once trayer (an XEmbed tray) comes, the icon
docks and minimising hides the window in the tray. Then, with trayer from the
start, -startup hides the window; a single click on the icon does nothing, a
double-click brings the window back; the menu opens on the right button's
release and its items answer the left button only: Show Main, Show Mini (the
mini window stays above the main window) and E&xit."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import *  # noqa: E402,F401,F403 (tests/windows imports these names from here)


def scenario(d, program):
    d.start_x()
    d.start_window_manager()
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])
    wid = wait_for(lambda: main_window(d), 15, "the main window")
    wait_for(lambda: d.wm_state(wid) == "Iconic", 10, "the window to start minimised")
    time.sleep(1)
    if d.wm_state(wid) != "Iconic" or wid not in d.root_windows("_NET_CLIENT_LIST"):
        raise Failure("with no tray on the desktop the window left the taskbar")
    d.start_trayer()
    wait_for(d.docked_icon, 15, "the icon to dock in the tray that came")
    d.run(["xdotool", "windowactivate", str(wid)], check=True)
    d.minimise(in_front(d, "the window restored from the taskbar"))
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")
    d.stop(app)

    app = d.spawn([program, "-startup"])
    icon = wait_for(d.docked_icon, 15, "the icon in trayer's panel")
    d.click(icon)
    starts_hidden(d)
    d.click(icon, repeat=2)
    wid = in_front(d, "the double-click to bring the window back")
    d.minimise(wid)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")
    d.run(["xdotool", "mousemove", str(icon[0]), str(icon[1]), "mousedown", "3"], check=True)
    time.sleep(0.8)
    if d.popup(INSTANCE, {wid}):
        raise Failure("the right button's press opened the tray menu")
    d.run(["xdotool", "mouseup", "3"], check=True)
    wait_for(lambda: d.popup(INSTANCE, {wid}), 5, "the tray menu on the release")
    time.sleep(0.3)  # the menu takes the keyboard once it is up
    d.keys("Down", "Return")
    in_front(d, "Show Main to bring the window back")
    open_menu(d, icon, {wid})
    d.keys("Down", "Down", "Return")
    mini = mini_window_above(d, wid)
    menu = open_menu(d, icon, {wid, mini})
    _, _, _, w, h, x, y = next(row for row in d.tree() if row[0] == menu)
    d.click((x + w // 2, y + h - 8), button=3)  # on E&xit, the last item
    time.sleep(0.8)
    if app.poll() is not None:
        raise Failure("a right click on E&xit ended the program")
    d.click((x + w // 2, y + h - 8))
    wait_for(lambda: app.poll() is not None, 5, "E&xit to end the program")
    wait_for(lambda: d.docked_icon() is None, 3, "the icon to leave the tray")


if __name__ == "__main__":
    main(X_TOOLS + ("trayer",), scenario)
