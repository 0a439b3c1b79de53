#pragma once

#include "platform/Notifier.h"

#include <QDeadlineTimer>
#include <memory>

// Notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus), whether the tray icon
// is shown or not; the fallback (the tray's balloon) where no server
// answers.
class DBusNotifier final : public Notifier {
public:
    explicit DBusNotifier(std::unique_ptr<Notifier> fallback) : fallback_(std::move(fallback)) {}
    bool notify(const QString &title, const QString &text, Urgency urgency) override;

private:
    std::unique_ptr<Notifier> fallback_;
    QDeadlineTimer quiet_; // a server that did not answer in time is left alone until then
};
