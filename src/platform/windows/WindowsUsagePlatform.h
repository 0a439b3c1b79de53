#pragma once

#include "usage/UsagePlatform.h"

// The usage history's view of Windows: the boot counter the system keeps in
// the registry, the tick count (which, like the counters' own clock, runs
// on through sleep), the interface row's type and speed from IP Helper.
class WindowsUsagePlatform final : public UsagePlatform {
public:
    QByteArray bootId() override;
    qint64 bootMs() override;
    qint64 utcNow() override;
    UsageRules::LinkKind linkKind(const QByteArray &name, quint32 type) override;
    QString dataFolder() override;

private:
    QByteArray bootId_;
};
