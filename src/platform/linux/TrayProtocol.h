#pragma once

#include <QString>

// Which of the two Linux tray protocols Qt will speak. On X11 Qt registers
// a StatusNotifierItem over D-Bus when a StatusNotifierWatcher owns its name
// on the session bus and knows a host (KDE Plasma, GNOME with the
// AppIndicator extension), and docks an XEmbed icon otherwise (XFCE, trayer,
// stalonetray); every platform but X11 (Wayland above all) has only
// StatusNotifierItem.
enum class TrayProtocol { XEmbed, StatusNotifierItem };

TrayProtocol trayProtocolFor(const QString &platformName, bool statusNotifierWatcherRegistered);

// True when org.kde.StatusNotifierWatcher is registered on the session bus
// and reports a host; false as well when there is no session bus at all.
bool statusNotifierWatcherRegistered();

// Whether the tray host Qt will use on this desktop reports double-clicks.
// An XEmbed icon sees the raw mouse buttons, so Qt reports single clicks and
// double-clicks; a StatusNotifierItem host sends one "activate" per click and
// never a double-click. Qt picks the protocol once, when the first tray icon
// of the process is made, and keeps it even if a watcher comes or goes
// later; so must the caller: ask once, before making the icon.
bool linuxTrayReportsDoubleClick(const QString &platformName);
