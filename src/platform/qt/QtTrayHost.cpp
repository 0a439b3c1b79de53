#include "platform/qt/QtTrayHost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QGuiApplication>
#include <QSystemTrayIcon>

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

static TrayActivation activationFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TrayActivation::Trigger;
    case QSystemTrayIcon::DoubleClick:
        return TrayActivation::DoubleClick;
    case QSystemTrayIcon::Context:
        return TrayActivation::Context;
    case QSystemTrayIcon::MiddleClick:
        return TrayActivation::MiddleClick;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return TrayActivation::Unknown;
}

QtTrayHost::QtTrayHost(QObject *parent)
    : QObject(parent), icon_(new QSystemTrayIcon(this)),
      protocol_(
          trayProtocolFor(QGuiApplication::platformName(), statusNotifierWatcherRegistered())) {
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (onActivated)
                    onActivated(activationFor(reason));
            });
}

QtTrayHost::~QtTrayHost() = default;

void QtTrayHost::show(const QIcon &icon, const QString &tip) {
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
    icon_->show();
}

void QtTrayHost::update(const QIcon &icon, const QString &tip) {
    // Setting an icon repaints it on the tray host even when it is the same
    // one; a tip-only change must cost no painting.
    if (icon.cacheKey() != icon_->icon().cacheKey())
        icon_->setIcon(icon);
    if (tip != icon_->toolTip())
        icon_->setToolTip(tip);
}

void QtTrayHost::remove() {
    icon_->hide();
}

bool QtTrayHost::isShown() const {
    return icon_->isVisible();
}

bool QtTrayHost::isAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayHost::reportsDoubleClick() const {
    return protocol_ == TrayProtocol::XEmbed;
}

void QtTrayHost::setContextMenu(QMenu *menu) {
    icon_->setContextMenu(menu);
}
