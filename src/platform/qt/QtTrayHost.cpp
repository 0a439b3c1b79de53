#include "platform/qt/QtTrayHost.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QMenu>
#include <QMouseEvent>
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

ReleaseMenu::ReleaseMenu(QMenu *menu, std::function<bool(const QObject *)> isIcon, QObject *parent)
    : QObject(parent), menu_(menu), isIcon_(std::move(isIcon)) {}

bool ReleaseMenu::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if (watched == menu_) {
        // Another button released over an item must not run it.
        return type == QEvent::MouseButtonRelease && mouse->button() != Qt::LeftButton;
    }
    if (mouse->button() != Qt::RightButton || !isIcon_(watched))
        return false;
    if (type == QEvent::MouseButtonRelease && !menu_->isVisible())
        menu_->popup(mouse->globalPosition().toPoint()); // its left edge at the cursor
    return true;                                         // the press opens nothing
}

void QtTrayHost::setContextMenu(QMenu *menu) {
    if (protocol_ == TrayProtocol::StatusNotifierItem) {
        // The host draws the menu and decides when it opens.
        icon_->setContextMenu(menu);
        return;
    }
    // Qt docks an XEmbed icon as a window of its own class inside the tray;
    // every mouse event on it passes through the application first.
    delete releaseMenu_;
    releaseMenu_ = new ReleaseMenu(
        menu, [](const QObject *o) { return o->inherits("QSystemTrayIconSys"); }, this);
    qApp->installEventFilter(releaseMenu_);
}
