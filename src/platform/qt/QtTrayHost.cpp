#include "platform/qt/QtTrayHost.h"

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

QtTrayHost::QtTrayHost(bool hostReportsDoubleClick, QObject *parent)
    : QObject(parent), icon_(new QSystemTrayIcon(this)),
      reportsDoubleClick_(hostReportsDoubleClick) {
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

bool QtTrayHost::reportsDoubleClick() const {
    return reportsDoubleClick_;
}

void QtTrayHost::setContextMenu(QMenu *menu) {
    icon_->setContextMenu(menu);
}
