#pragma once

#include "app/Autostart.h"

#include <QByteArray>
#include <QString>

// Start with the session through an XDG autostart entry, the file
// ZarnBandwidth.desktop in the user's autostart folder.
class XdgAutostart final : public Autostart {
public:
    // folder: the autostart folder; empty means $XDG_CONFIG_HOME/autostart
    // (~/.config/autostart when that is unset or not absolute), looked up at
    // each call.
    explicit XdgAutostart(QString folder = QString());

    bool exists() const override;
    // Writes the entry atomically, creating the folder when missing. A folder
    // that cannot be written leaves things as they were, silently.
    void enable(const QString &programPath) override;
    void disable() override;

    QString folder() const;
    QString entryPath() const;

    // The whole entry that starts programPath with "-startup".
    static QByteArray entryText(const QString &programPath);
    // One argument of an Exec line: quoted for the command line, then
    // escaped for the key file's string value.
    static QString execArgument(const QString &argument);

private:
    QString folder_;
};
