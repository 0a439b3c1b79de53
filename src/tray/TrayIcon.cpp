#include "tray/TrayIcon.h"

#include "tray/TrayHost.h"
#include "ui/Images.h"

void TrayIcon::fill(TrayPicture picture, const QString &tip, QWidget *window) {
    record_.window = window;
    record_.id = 1;
    record_.picture = picture;
    record_.tip = tip;
}

void TrayIcon::addTrayIcon(TrayPicture picture, const QString &tip, QWidget *window) {
    fill(picture, tip, window);
    if (host_ && !host_->isShown())
        host_->show(Images::trayIcon(picture), tip);
}

void TrayIcon::modifyTrayIcon(TrayPicture picture, const QString &tip, QWidget *window) {
    fill(picture, tip, window);
    if (host_ && host_->isShown())
        host_->update(Images::trayIcon(picture), tip);
}

void TrayIcon::deleteTrayIcon() {
    if (host_ && record_.id != 0 && host_->isShown())
        host_->remove();
}
