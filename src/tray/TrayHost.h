#pragma once

#include "tray/TrayTip.h"

#include <QIcon>
#include <QString>
#include <functional>

class QMenu;
class QObject;

// How the desktop reported a mouse action on the tray icon.
enum class TrayActivation {
    Trigger,     // a single left click (an XEmbed host) or "activate" (StatusNotifierItem)
    DoubleClick, // a left double-click; only hosts that report single clicks send it
    Context,     // the context-menu request (right click); the host shows the menu itself
    MiddleClick,
    Unknown,
};

// The platform edge for the notification-area icon: the real one wraps
// QSystemTrayIcon, tests use a fake that records every request.
class TrayHost {
public:
    virtual ~TrayHost() = default;

    virtual void show(const QIcon &icon, const TrayTip &tip) = 0;   // put the icon up
    virtual void update(const QIcon &icon, const TrayTip &tip) = 0; // change picture and tip
    virtual void remove() = 0;                                      // take the icon down
    virtual bool isShown() const = 0;
    // Whether the desktop has a tray that shows the icon right now (an
    // XEmbed tray or a StatusNotifierItem host). isShown only says the icon
    // was put up; without a tray nobody sees it. Asked at every decision,
    // since a panel may start after the program or go away while it runs.
    virtual bool isAvailable() const = 0;

    // XEmbed hosts report single clicks and double-clicks; StatusNotifierItem
    // hosts only ever send one "activate", which then has to stand for the
    // double-click.
    virtual bool reportsDoubleClick() const = 0;

    // The menu the host opens on a context request.
    virtual void setContextMenu(QMenu *menu) = 0;

    // The tray's own balloon: a title and one plain-text line. True when it
    // was shown, false when this tray cannot show one.
    virtual bool showMessage(const QString &title, const QString &text) = 0;

    // Whether the host takes the tip only when it is about to show it
    // (onTipWanted), rather than at every change.
    virtual bool tipsOnDemand() const { return false; }

    // Set by the owner; called for every mouse action on the icon.
    std::function<void(TrayActivation)> onActivated;
    // Set by the owner; called just before the host takes the tip to show it.
    std::function<void()> onTipWanted;
};
