#!/usr/bin/env python3
"""Prints the labels that a program shows, as the accessibility bus sees
them: one line each, "x y width height<TAB>text", screen coordinates.

Usage: atspi_labels.py APPLICATION-NAME. Needs python3-pyatspi and the
accessibility bus of the session (at-spi-bus-launcher)."""

import sys

import pyatspi


def walk(node, out, depth=0):
    if depth > 40:
        return
    for child in node:
        if child is None:
            continue
        try:
            showing = child.getState().contains(pyatspi.STATE_SHOWING)
            if child.getRoleName() == "label" and showing:
                e = child.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
                out.append("%d %d %d %d\t%s" % (e.x, e.y, e.width, e.height, child.name))
        except Exception:  # an object that went away while we looked
            continue
        walk(child, out, depth + 1)


def main():
    lines = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == sys.argv[1]:
            walk(app, lines)
    print("\n".join(lines))


if __name__ == "__main__":
    main()
