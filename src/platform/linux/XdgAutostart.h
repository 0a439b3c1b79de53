#pragma once

#include "app/Autostart.h"

// Start with the session through an XDG autostart entry, the file
// ZarnBandwidth.desktop in the user's autostart folder.
class XdgAutostart final : public Autostart {
public:
    // folder: the autostart folder; empty means $XDG_CONFIG_HOME/autostart
    // (~/.config/autostart when that is unset).
    explicit XdgAutostart(QString folder = QString());

    bool exists() const override;
    void enable(const QString &programPath) override;
    void disable() override;

    QString entryPath() const;

private:
    QString folder_;
};
