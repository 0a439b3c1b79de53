#pragma once

#include "tray/TrayHost.h"

#include <QString>

// Puts a desktop notification in front of the user: a title and one
// plain-text line. The real ones are chosen in systemServices(): the
// desktop's notification server where there is one, the tray's balloon
// otherwise.
class Notifier {
public:
    // Critical asks the desktop to keep the notification up until the user
    // dismisses it, where it can (GNOME, Plasma).
    enum class Urgency { Normal, Critical };

    virtual ~Notifier() = default;

    // True once the notification was handed on: the server took it, or the
    // balloon was shown. False when nothing on the desktop could show it;
    // the caller may try again later.
    virtual bool notify(const QString &title, const QString &text, Urgency urgency) = 0;
};

// The tray's balloon (Windows, and desktops without a notification server).
class TrayNotifier final : public Notifier {
public:
    explicit TrayNotifier(TrayHost &tray) : tray_(tray) {}
    // A balloon has no urgency: it goes after a few seconds whatever it says.
    bool notify(const QString &title, const QString &text, Urgency) override {
        return tray_.showMessage(title, text);
    }

private:
    TrayHost &tray_;
};
