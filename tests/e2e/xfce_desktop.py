#!/usr/bin/env python3
"""Zarn Bandwidth in XFCE's panel, a StatusNotifierItem host on X11.

A private Xvfb display gets openbox and xfce4-panel with a task list and the
systray plugin, whose StatusNotifierItem watcher and host take the program's
item (Qt registers one whenever a host is there). The panel reads its layout
from a private xfconf folder and talks over the test's own session bus.
xdotool clicks the icon in the panel and walks its menu as a user would.

Exit codes: 0 passed, 1 failed, 77 skipped. Screenshots go to --artefacts.
"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sni_host  # noqa: E402
from tray_desktop import (Desktop, Failure, drive, frontmost_normal, hidden_in_tray,  # noqa: E402
                          main_window, mini_window_above, run_script, step, wait_for,
                          write_settings)

PANEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="28"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="tasklist"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-3" type="string" value="systray"/>
  </property>
</channel>
"""


def bus(d):
    """Runs a command on the test's session bus."""
    return lambda args: d.run(args, check=True)


def quiet(d, query):
    try:
        return query(bus(d))
    except Failure:
        return None


def start_panel(d):
    folder = os.path.join(d.env["XDG_CONFIG_HOME"], "xfce4", "xfconf", "xfce-perchannel-xml")
    os.makedirs(folder)
    with open(os.path.join(folder, "xfce4-panel.xml"), "w") as f:
        f.write(PANEL)
    d.spawn(["xfce4-panel"])
    wait_for(lambda: quiet(d, sni_host.host_registered), 20, "xfce4-panel's tray host")


def systray_icon(d):
    """Centre of the systray plugin (it holds the one icon), or None. The
    plugin runs in a wrapper process of its own."""
    for wid, name, inst, w, h, x, y in d.tree():
        if inst == "wrapper-2.0" and w > 10 and h > 10 and d.viewable(wid):
            return (x + w // 2, y + h // 2)
    return None


def popup_menu(d, exclude):
    """The panel's menu for the icon: a newly viewable window of the wrapper."""
    for wid, name, inst, w, h, x, y in d.tree():
        if inst == "wrapper-2.0" and wid not in exclude and w > 60 and h > 40 and d.viewable(wid):
            return wid
    return None


def open_menu(d, icon):
    # GTK keeps the menu's window between uses: only the viewable ones count.
    before = {row[0] for row in d.tree() if row[2] == "wrapper-2.0" and d.viewable(row[0])}
    d.click(icon, button=3)
    menu = wait_for(lambda: popup_menu(d, before), 5, "the panel's menu for the icon")
    time.sleep(0.3)
    return menu


def run_xfce_session(d, program):
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])

    step("-startup: the item registers with the panel, the window stays hidden")
    item = wait_for(lambda: quiet(d, sni_host.registered_items), 15,
                    "the item in xfce4-panel's tray")[0]
    icon = wait_for(lambda: systray_icon(d), 5, "the icon in the panel")
    time.sleep(0.5)
    if not hidden_in_tray(d, main_window(d)):
        raise Failure("started with -startup, the main window is not hidden")
    d.screenshot("xfce-tray.png", "220x28+804+0")

    step("a left click on the icon (Activate) brings the window back in front")
    d.click(icon)
    wid = wait_for(lambda: main_window(d), 5, "the main window")
    wait_for(lambda: frontmost_normal(d, wid), 5, "the click to bring the window back")

    step("minimising with the tray options on hides the window")
    d.minimise(wid)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")

    step("right click: the panel shows the menu; Show Main brings the window back")
    menu = open_menu(d, icon)
    d.screenshot("xfce-tray-menu.png", "360x140+664+0")
    d.keys("Down", "Return")
    wait_for(lambda: not d.viewable(menu), 3, "the menu to close")
    wait_for(lambda: frontmost_normal(d, wid), 5, "Show Main to bring the window back")

    step("Show Mini Bandiwdth Monitor: the mini window stays above the main window")
    open_menu(d, icon)
    d.keys("Down", "Down", "Return")
    mini_window_above(d, wid)
    time.sleep(1.0)  # a few ticks, so that the mini window shows rates
    d.screenshot("xfce-desktop.png")

    step("E&xit from the menu ends the program and takes the item away")
    open_menu(d, icon)
    d.keys("x")
    wait_for(lambda: app.poll() is not None, 5, "the program to end")
    wait_for(lambda: item not in (quiet(d, sni_host.registered_items) or []), 5,
             "the item to leave the panel")


def scenario(d, program):
    d.start_x()
    d.start_session_bus()
    if "DBUS_SESSION_BUS_ADDRESS" not in d.env:
        raise Failure("the session bus did not start")
    d.start_window_manager()
    start_panel(d)
    run_xfce_session(d, program)


if __name__ == "__main__":
    run_script(lambda: drive(
        ("Xvfb", "openbox", "xfce4-panel", "xdotool", "xprop", "xwininfo", "dbus-daemon",
         "gdbus"), "xvfb openbox xfce4-panel xdotool x11-utils dbus libglib2.0-bin", Desktop,
        scenario, failure="xfce-failure"))
