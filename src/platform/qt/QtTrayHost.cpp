#include "platform/qt/QtTrayHost.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

// How long a balloon stays up, where the system lets a program choose.
constexpr int kBalloonMs = 10000;

} // namespace

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
    : QObject(parent), icon_(new QSystemTrayIcon(this)), protocol_(protocol),
      balloonTimer_(new QTimer(this)) {
    balloonTimer_->setSingleShot(true);
    connect(balloonTimer_, &QTimer::timeout, icon_, &QSystemTrayIcon::hide);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (onActivated)
                    onActivated(activationFor(reason));
            });
    if (protocol_ == TrayProtocol::XEmbed)
        icon_->installEventFilter(this);
}

QtTrayHost::~QtTrayHost() = default;

void QtTrayHost::show(const QIcon &icon, const TrayTip &tip) {
    balloonTimer_->stop(); // shown for good now
    icon_->setIcon(icon);
    tip_ = tip;
    icon_->setToolTip(tip.text());
    icon_->show();
}

void QtTrayHost::update(const QIcon &icon, const TrayTip &tip) {
    // Setting an icon repaints it on the tray host even when it is the same
    // one; a tip-only change must cost no painting.
    if (icon.cacheKey() != icon_->icon().cacheKey())
        icon_->setIcon(icon);
    tip_ = tip;
    // An XEmbed icon's tip is Qt's own tooltip, shown from what the icon
    // holds when the pointer rests on it: the tip is written and handed
    // over then (eventFilter), and new rates cost a tick nothing. A
    // StatusNotifierItem host and the Windows shell show the tip themselves
    // and are told every change.
    if (protocol_ != TrayProtocol::XEmbed)
        handOverTip();
}

void QtTrayHost::handOverTip() {
    const QString text = tip_.text();
    if (text != icon_->toolTip())
        icon_->setToolTip(text);
}

bool QtTrayHost::eventFilter(QObject *watched, QEvent *event) {
    // The icon's window passes the request to the icon before it shows the
    // icon's tip.
    if (watched == icon_ && event->type() == QEvent::ToolTip) {
        if (onTipWanted)
            onTipWanted();
        handOverTip();
    }
    return false;
}

void QtTrayHost::remove() {
    balloonTimer_->stop();
    icon_->hide();
}

bool QtTrayHost::isShown() const {
    // An icon up only for a balloon is not the user's icon: it goes again.
    return icon_->isVisible() && !balloonTimer_->isActive();
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
    // Every mouse event on the icon's window passes through the application
    // first.
    delete releaseMenu_;
    releaseMenu_ = new ReleaseMenu(
        menu, [this](const QObject *o) { return ownsWindow(o); }, this);
    qApp->installEventFilter(releaseMenu_);
}

bool QtTrayHost::showMessage(const QString &title, const QString &text) {
    // A StatusNotifierItem hands its messages to the notification server,
    // which the notifier has asked already.
    if (protocol_ == TrayProtocol::StatusNotifierItem || !isAvailable())
        return false;
    if (!isShown()) {
        // The balloon points at the icon, and Qt shows none from a hidden
        // one ("ShowTrayIcon" off): the icon comes up for the balloon alone.
        if (icon_->icon().isNull())
            icon_->setIcon(QGuiApplication::windowIcon());
        if (icon_->icon().isNull())
            return false;
        icon_->show();
        balloonTimer_->start(kBalloonMs + 2000);
    }
    // The program's own icon, not the tray's rate picture: it tells whose
    // balloon this is.
    icon_->showMessage(title, text, QGuiApplication::windowIcon(), kBalloonMs);
    return true;
}
