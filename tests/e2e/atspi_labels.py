#!/usr/bin/python3
"""Prints the labels Zarn Bandwidth shows, as the accessibility bus sees
them: "x y text" a line, in screen coordinates (Debian: python3-pyatspi)."""

import pyatspi


def walk(node, depth=0):
    for child in node if depth < 40 else []:
        try:
            if child.getRoleName() == "label" and child.getState().contains(pyatspi.STATE_SHOWING):
                e = child.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                print(e.x, e.y, child.name.replace("\n", " "))
            walk(child, depth + 1)
        except Exception:  # None, or an object that went away while we looked
            continue


for app in pyatspi.Registry.getDesktop(0):
    if app is not None and app.name == "Zarn Bandwidth":
        walk(app)
