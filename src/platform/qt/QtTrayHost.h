#pragma once

#include "tray/TrayHost.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QEvent;
class QMenu;
class QSystemTrayIcon;
class QTimer;

// How the desktop's tray takes Qt's icon. On Linux Qt docks an XEmbed icon
// (XFCE, trayer, stalonetray) or registers a StatusNotifierItem over D-Bus
// (KDE Plasma, GNOME with the AppIndicator extension, every Wayland
// desktop); which one, only the platform layer can find out
// (platform/linux/TrayProtocol.h). On Windows the icon is the shell's own
// notification-area icon.
enum class TrayProtocol { XEmbed, StatusNotifierItem, WindowsNotifyIcon };

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
    // protocol: the one Qt will speak on this desktop. Qt picks it once,
    // when the first tray icon of the process is made, and keeps it even if
    // a watcher comes or goes later; so must the caller.
    explicit QtTrayHost(TrayProtocol protocol, QObject *parent = nullptr);
    ~QtTrayHost() override;

    void show(const QIcon &icon, const TrayTip &tip) override;
    void update(const QIcon &icon, const TrayTip &tip) override;
    void remove() override;
    bool isShown() const override;
    bool isAvailable() const override;
    // An XEmbed icon and the Windows notification area see the raw mouse
    // buttons, so Qt reports single clicks and double-clicks; a
    // StatusNotifierItem host sends one "activate" per click and never a
    // double-click.
    bool reportsDoubleClick() const override;
    bool tipsOnDemand() const override { return protocol_ == TrayProtocol::XEmbed; }
    // Qt docks an XEmbed icon as a window of its own class inside the tray.
    bool ownsWindow(const QObject *window) const { return window->inherits("QSystemTrayIconSys"); }
    void setContextMenu(QMenu *menu) override;
    // A balloon out of the icon (XEmbed, Windows), also while the icon is
    // hidden: it comes up for the balloon and goes again after it. A
    // StatusNotifierItem has no balloon of its own.
    bool showMessage(const QString &title, const QString &text) override;

    TrayProtocol protocol() const { return protocol_; }

    // Hands an XEmbed icon its latest tip as the pointer comes to rest on it.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void handOverTip(); // the latest tip's text, where the icon holds another

    QSystemTrayIcon *icon_;
    TrayTip tip_; // the latest tip, which an XEmbed icon takes when asked
    TrayProtocol protocol_;
    QPointer<ReleaseMenu> releaseMenu_;
    QTimer *balloonTimer_; // runs while the icon is up only for a balloon
};
