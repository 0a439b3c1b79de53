#include "platform/qt/QtTrayHost.h"

#include <QSystemTrayIcon>

QtTrayHost::QtTrayHost(QObject *parent) : QObject(parent), icon_(new QSystemTrayIcon(this)) {
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (!onActivated)
            return;
        switch (r) {
        case QSystemTrayIcon::Trigger:
            onActivated(TrayActivation::Trigger);
            break;
        case QSystemTrayIcon::DoubleClick:
            onActivated(TrayActivation::DoubleClick);
            break;
        case QSystemTrayIcon::Context:
            onActivated(TrayActivation::Context);
            break;
        case QSystemTrayIcon::MiddleClick:
            onActivated(TrayActivation::MiddleClick);
            break;
        default:
            onActivated(TrayActivation::Unknown);
            break;
        }
    });
}

QtTrayHost::~QtTrayHost() = default;

void QtTrayHost::show(const QIcon &icon, const QString &tip) {
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
    icon_->show();
}

void QtTrayHost::update(const QIcon &icon, const QString &tip) {
    icon_->setIcon(icon);
    icon_->setToolTip(tip);
}

void QtTrayHost::remove() {
    icon_->hide();
}

bool QtTrayHost::isShown() const {
    return icon_->isVisible();
}

bool QtTrayHost::reportsDoubleClick() const {
    return true;
}

void QtTrayHost::setContextMenu(QMenu *menu) {
    icon_->setContextMenu(menu);
}
