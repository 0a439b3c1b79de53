#!/usr/bin/python3
"""A bare StatusNotifierItem watcher with a host, for the desktop test.

It owns org.kde.StatusNotifierWatcher on the session bus, says a host is
registered (as KDE Plasma or GNOME's AppIndicator extension would), and
prints one line per item that registers: "item SENDER SERVICE". It prints
"ready" once the name is owned. Needs PyGObject (Debian: python3-gi).
"""

import sys

from gi.repository import Gio, GLib

NAME = "org.kde.StatusNotifierWatcher"
PATH = "/StatusNotifierWatcher"
XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>
"""

items = []


def on_call(conn, sender, path, interface, method, params, invocation):
    if method == "RegisterStatusNotifierItem":
        service = params.unpack()[0]
        items.append(service)
        print("item %s %s" % (sender, service), flush=True)
        conn.emit_signal(None, PATH, NAME, "StatusNotifierItemRegistered",
                         GLib.Variant("(s)", (service,)))
    invocation.return_value(None)


def on_get(conn, sender, path, interface, prop):
    if prop == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", items)
    if prop == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


def main():
    loop = GLib.MainLoop()
    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]

    def acquired(conn, name):
        conn.register_object(PATH, info, on_call, on_get, None)

    def owned(conn, name):
        print("ready", flush=True)

    def lost(conn, name):
        print("lost", flush=True)
        loop.quit()

    Gio.bus_own_name(Gio.BusType.SESSION, NAME, Gio.BusNameOwnerFlags.NONE, acquired, owned,
                     lost)
    loop.run()
    return 1


if __name__ == "__main__":
    sys.exit(main())
