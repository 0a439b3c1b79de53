#pragma once

#include "platform/qt/QtTrayHost.h"

#include <QString>

// Which of the two Linux tray protocols Qt will speak. On X11 Qt registers
// a StatusNotifierItem over D-Bus when a StatusNotifierWatcher owns its name
// on the session bus and knows a host, and docks an XEmbed icon otherwise;
// every platform but X11 (Wayland above all) has only StatusNotifierItem.
TrayProtocol trayProtocolFor(const QString &platformName, bool statusNotifierWatcherRegistered);

// True when org.kde.StatusNotifierWatcher is registered on the session bus
// and reports a host; false as well when there is no session bus at all.
bool statusNotifierWatcherRegistered();
