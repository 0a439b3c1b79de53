#include "platform/linux/TrayProtocol.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>

TrayProtocol trayProtocolFor(const QString &platformName, bool watcherRegistered) {
    if (platformName != QLatin1String("xcb"))
        return TrayProtocol::StatusNotifierItem;
    return watcherRegistered ? TrayProtocol::StatusNotifierItem : TrayProtocol::XEmbed;
}

bool statusNotifierWatcherRegistered() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusConnectionInterface *busInterface = bus.interface();
    if (!busInterface)
        return false;
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!busInterface->isServiceRegistered(watcher).value())
        return false;
    // A watcher with no host behind it (no panel showing the items) makes Qt
    // fall back to XEmbed, so the host's presence counts as well.
    QDBusInterface watcherObject(watcher, QStringLiteral("/StatusNotifierWatcher"), watcher, bus);
    return watcherObject.isValid() &&
           watcherObject.property("IsStatusNotifierHostRegistered").toBool();
}
