#pragma once

#include "monitor/TrayPicture.h"
#include "tray/TrayTip.h"

#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class TrayHost;

// What the tray icon module last sent: empty until the first add or modify,
// and kept through a delete, so that a delete always names the icon that the
// last add or modify named.
struct TrayRecord {
    QPointer<QWidget> window;
    int id = 0; // 1 once filled: the program has only the one icon
    std::optional<TrayPicture> picture;
    TrayTip tip;
};

// The program's one notification-area icon. Requests the host cannot carry
// out (a modify or delete while no icon is shown, an add while one is) are
// ignored, as a desktop shell would refuse them.
class TrayIcon {
public:
    // paint draws a picture; each is asked for once.
    TrayIcon(TrayHost *host, std::function<QIcon(TrayPicture)> paint)
        : host_(host), paint_(std::move(paint)) {}

    void addTrayIcon(TrayPicture picture, const TrayTip &tip, QWidget *window);
    void modifyTrayIcon(TrayPicture picture, const TrayTip &tip, QWidget *window);
    void deleteTrayIcon();

    const TrayRecord &trayRecord() const { return record_; }

private:
    void fill(TrayPicture picture, const TrayTip &tip, QWidget *window);
    const QIcon &iconFor(TrayPicture picture);

    TrayHost *host_;
    std::function<QIcon(TrayPicture)> paint_;
    TrayRecord record_;
    std::array<QIcon, 16> icons_; // one per picture, made on first use
};
