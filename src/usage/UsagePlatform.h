#pragma once

#include "usage/UsageRules.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// What the usage history needs from the system it runs on. One
// implementation per system; tests use a fake.
class UsagePlatform {
public:
    virtual ~UsagePlatform() = default;

    // Names this boot of the kernel; empty when the system cannot tell.
    virtual QByteArray bootId() = 0;
    // Milliseconds since boot, suspend included; never set by the user.
    virtual qint64 bootMs() = 0;
    // The wall clock in UTC seconds.
    virtual qint64 utcNow() = 0;
    // What kind of link name is, given its standard interface-type code.
    virtual UsageRules::LinkKind linkKind(const QByteArray &name, quint32 type) = 0;
    // The folder the store lives in (the user's data folder for the program).
    virtual QString dataFolder() = 0;

protected:
    // Where QStandardPaths::AppDataLocation points, without depending on
    // an application object (the report runs before there is one).
    static QString standardDataFolder();
};
