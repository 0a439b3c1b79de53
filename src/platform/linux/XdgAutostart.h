#pragma once

#include "platform/Autostart.h"

#include <QByteArray>
#include <QString>

// Start with the session through an XDG autostart entry, the file
// ZarnBandwidth.desktop in the user's autostart folder.
//
// The file name is the entry: whatever file of that name is in the folder
// starts "the program" at login, whoever wrote it. So a file of that name
// written by another program (or by hand) counts as present when probed,
// ticking the box replaces it with ours, and clearing the box removes it,
// exactly as for our own entry. Two things of that name are not entries
// and are never written through or removed: a folder (it probes as absent)
// and the target of a symbolic link (ticking replaces the link itself with
// our file, clearing removes the link; the file it pointed at, which may
// belong to another program, stays untouched).
class XdgAutostart final : public Autostart {
public:
    // folder: the autostart folder; empty means $XDG_CONFIG_HOME/autostart
    // (~/.config/autostart when that is unset or not absolute), looked up at
    // each call.
    explicit XdgAutostart(QString folder = QString());

    bool exists() const override;
    // Writes the entry atomically, creating the folder when missing. A folder
    // that cannot be written leaves things as they were, silently; so does a
    // folder that has taken the entry's name.
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
