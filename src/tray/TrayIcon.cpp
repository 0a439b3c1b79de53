#include "tray/TrayIcon.h"

#include "tray/TrayHost.h"

void TrayIcon::fill(TrayPicture picture, const TrayTip &tip, QWidget *window) {
    if (record_.window != window)
        record_.window = window;
    record_.id = 1;
    record_.picture = picture;
    record_.tip = tip;
}

// Under traffic the tip changes on every tick and the picture now and then:
// each picture keeps one icon, so the host is handed the very icon it showed
// before and can skip painting it again.
const QIcon &TrayIcon::iconFor(TrayPicture picture) {
    QIcon &icon = icons_[size_t(picture.up) * 4 + size_t(picture.down)];
    if (icon.isNull())
        icon = paint_(picture);
    return icon;
}

void TrayIcon::addTrayIcon(TrayPicture picture, const TrayTip &tip, QWidget *window) {
    fill(picture, tip, window);
    if (host_ && !host_->isShown())
        host_->show(iconFor(picture), tip);
}

void TrayIcon::modifyTrayIcon(TrayPicture picture, const TrayTip &tip, QWidget *window) {
    fill(picture, tip, window);
    if (host_ && host_->isShown())
        host_->update(iconFor(picture), tip);
}

void TrayIcon::deleteTrayIcon() {
    if (host_ && record_.id != 0 && host_->isShown())
        host_->remove();
}
