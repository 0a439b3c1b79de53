"""What a StatusNotifierItem host does with the program's item, over D-Bus.

The desktop tests against real hosts (waybar, xfce4-panel's systray) use
these to find the item the host knows, activate it as a left click does and
choose entries of its menu as a click in the host's menu does. `run` runs a
command on the session's bus and returns its output.
"""

import re

WATCHER = "org.kde.StatusNotifierWatcher"


def _get(run, service, path, interface, prop):
    return run(["gdbus", "call", "--session", "--dest", service, "--object-path", path,
                "--method", "org.freedesktop.DBus.Properties.Get", interface, prop])


def registered_items(run):
    """The items the host's watcher lists, as (service, object path)."""
    out = _get(run, WATCHER, "/StatusNotifierWatcher", WATCHER, "RegisteredStatusNotifierItems")
    items = []
    for entry in re.findall(r"'([^']+)'", out):
        service, _, path = entry.partition("/")
        items.append((service, "/" + path if path else "/StatusNotifierItem"))
    return items


def host_registered(run):
    out = _get(run, WATCHER, "/StatusNotifierWatcher", WATCHER, "IsStatusNotifierHostRegistered")
    return "true" in out


def activate(run, item):
    service, path = item
    run(["gdbus", "call", "--session", "--dest", service, "--object-path", path, "--method",
         "org.kde.StatusNotifierItem.Activate", "0", "0"])


def menu(run, item):
    """The item's menu entries as {label: id}; "_" marks the access key."""
    service, path = item
    m = re.search(r"objectpath '([^']+)'",
                  _get(run, service, path, "org.kde.StatusNotifierItem", "Menu"))
    if not m:
        return None, {}
    layout = run(["gdbus", "call", "--session", "--dest", service, "--object-path", m.group(1),
                  "--method", "com.canonical.dbusmenu.GetLayout", "0", "--", "-1", "[]"])
    return m.group(1), {label: int(i) for i, label in
                        re.findall(r"\((\d+), \{[^}]*'label': <'([^']*)'>", layout)}


def choose(run, item, label):
    """Chooses one entry of the item's menu, as the host does for a click."""
    service, _ = item
    path, entries = menu(run, item)
    if label not in entries:
        raise KeyError("no menu entry %r among %s" % (label, sorted(entries)))
    run(["gdbus", "call", "--session", "--dest", service, "--object-path", path, "--method",
         "com.canonical.dbusmenu.Event", str(entries[label]), "clicked", "<0>", "0"])
