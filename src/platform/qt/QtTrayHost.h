#pragma once

#include "tray/TrayHost.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QEvent;
class QMenu;
class QSystemTrayIcon;

// Which of the two Linux tray protocols Qt will speak. On X11 Qt registers
// a StatusNotifierItem over D-Bus when a StatusNotifierWatcher owns its name
// on the session bus and knows a host (KDE Plasma, GNOME with the
// AppIndicator extension), and docks an XEmbed icon otherwise (XFCE, trayer,
// stalonetray); every platform but X11 (Wayland above all) has only
// StatusNotifierItem.
enum class TrayProtocol { XEmbed, StatusNotifierItem };

TrayProtocol trayProtocolFor(const QString &platformName, bool statusNotifierWatcherRegistered);

// True when org.kde.StatusNotifierWatcher is registered on the session bus
// and reports a host; false as well when there is no session bus at all.
bool statusNotifierWatcherRegistered();

// The tray menu as an XEmbed icon shows it: opened where the right button is
// released (Qt opens it on the press, so a right-drag could run an item),
// and its items answer the left button only. isIcon tells the icon's own
// window among the application's objects.
class ReleaseMenu final : public QObject {
public:
    ReleaseMenu(QMenu *menu, std::function<bool(const QObject *)> isIcon,
                QObject *parent = nullptr);
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMenu *menu_;
    std::function<bool(const QObject *)> isIcon_;
};

// The real tray icon, through QSystemTrayIcon.
class QtTrayHost final : public QObject, public TrayHost {
    Q_OBJECT

public:
    explicit QtTrayHost(QObject *parent = nullptr);
    ~QtTrayHost() override;

    void show(const QIcon &icon, const QString &tip) override;
    void update(const QIcon &icon, const QString &tip) override;
    void remove() override;
    bool isShown() const override;
    bool isAvailable() const override;
    // An XEmbed icon sees the raw mouse buttons, so Qt reports single clicks
    // and double-clicks; a StatusNotifierItem host sends one "activate" per
    // click and never a double-click.
    bool reportsDoubleClick() const override;
    void setContextMenu(QMenu *menu) override;

    TrayProtocol protocol() const { return protocol_; }

private:
    QSystemTrayIcon *icon_;
    // Qt picks the protocol once, when the first tray icon of the process is
    // made, and keeps it even if a watcher comes or goes later; so is this.
    TrayProtocol protocol_;
    QPointer<ReleaseMenu> releaseMenu_;
};
