#pragma once

#include "platform/Autostart.h"

#include <QString>

// Start with Windows through the per-user Run key: the value "ZarnBandwidth"
// under HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run,
// whose text is the command Windows runs at logon. Any value of that name
// counts as the entry, whoever wrote it. Every call opens and closes the key;
// a call that fails leaves things as they were, silently.
class RegistryAutostart final : public Autostart {
public:
    bool exists() const override;
    void enable(const QString &programPath) override;
    void disable() override;

    // The command that starts programPath with "-startup". A path with a
    // blank is quoted: unquoted, Windows would try "C:\Program.exe" first.
    static QString commandLine(const QString &programPath);
};
