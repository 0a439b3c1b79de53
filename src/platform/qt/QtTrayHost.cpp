#include "platform/qt/QtTrayHost.h"

#include <QApplication>
#ifndef Q_OS_WIN
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#endif
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>

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

QtTrayHost::QtTrayHost(TrayProtocol protocol, QObject *parent)
    : QObject(parent), icon_(new QSystemTrayIcon(this)), protocol_(protocol) {
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
    return protocol_ != TrayProtocol::StatusNotifierItem;
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
    if (protocol_ != TrayProtocol::XEmbed) {
        // A StatusNotifierItem host draws the menu and decides when it
        // opens; on Windows Qt opens it on the shell's own context request.
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

namespace {

// Hands a notification to the desktop's notification server; false when no
// server is on the session bus. The call does not wait for the answer: the
// tick that found the reason goes on at once.
bool notifyDesktop(const QString &title, const QString &text) {
#ifdef Q_OS_WIN
    // The shell's own notification icon shows the message itself.
    (void)title;
    (void)text;
    return false;
#else
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    call << QGuiApplication::applicationDisplayName() << 0u << QString() << title << text
         << QStringList() << QVariantMap() << -1;
    return bus.send(call);
#endif
}

} // namespace

void QtTrayHost::showMessage(const QString &title, const QString &text) {
    // For a StatusNotifierItem Qt sends the message to the notification
    // server itself. For an XEmbed icon it would draw a balloon of its own
    // beside the icon instead, which the desktop neither styles nor keeps
    // in its history; the server gets it directly then, and the balloon is
    // left for desktops that run no server.
    if (protocol_ == TrayProtocol::XEmbed && notifyDesktop(title, text))
        return;
    icon_->showMessage(title, text, icon_->icon());
}
