#!/usr/bin/env python3
"""Zarn Bandwidth in XFCE's panel on Xvfb with openbox: the panel's systray
plugin is a StatusNotifierItem host and draws the item's menu itself. With
-startup the item registers and the window stays hidden; a left click
(Activate) brings it back, minimising hides it again; the panel's menu runs
Show Main, Show Mini (the mini window stays above) and E&xit."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import (X_TOOLS, hidden_in_tray, in_front, main, mini_window_above,  # noqa: E402
                     open_menu, sni_items, starts_hidden, wait_for, watcher, write_settings,
                     xfce_panel)

PLUGIN = "wrapper-2.0"  # the systray plugin runs in a wrapper process of its own


def scenario(d, program):
    d.instance = PLUGIN  # whose menus open_menu looks for
    d.start_x()
    d.start_window_manager()
    xfce_panel(d, ["systray"], "p=6;x=0;y=0")
    wait_for(lambda: "true" in watcher(d, "IsStatusNotifierHostRegistered"), 20, "the tray host")
    write_settings(d, ["Adapter=1"])
    app = d.spawn([program, "-startup"])
    item = wait_for(lambda: sni_items(d), 15, "the item in xfce4-panel's tray")[0]
    icon = wait_for(lambda: next(((x + w // 2, y + h // 2) for wid, _, inst, w, h, x, y in d.tree()
                                  if inst == PLUGIN and w > 10 and h > 10 and d.viewable(wid)),
                                 None), 5, "the icon in the panel")
    starts_hidden(d)
    d.click(icon)
    wid = in_front(d, "the click to bring the window back")
    d.minimise(wid)
    wait_for(lambda: hidden_in_tray(d, wid), 5, "the window to leave for the tray")

    def menu(*keys):  # GTK keeps a menu's window between uses: only a newly shown one counts
        open_menu(d, icon, {row[0] for row in d.tree() if row[2] == PLUGIN and d.viewable(row[0])})
        d.keys(*keys)

    menu("Down", "Return")
    in_front(d, "Show Main to bring the window back")
    menu("Down", "Down", "Return")
    mini_window_above(d, wid)
    menu("x")
    wait_for(lambda: app.poll() is not None, 5, "E&xit to end the program")
    wait_for(lambda: item not in sni_items(d), 5, "the item to leave the panel")


if __name__ == "__main__":
    main(X_TOOLS + ("xfce4-panel", "gdbus"), scenario)
