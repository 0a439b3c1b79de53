#pragma once

#include "usage/UsagePlatform.h"

// The usage history's view of Linux: the kernel's boot id, CLOCK_BOOTTIME,
// the link's driver through the ethtool ioctl (which, unlike sysfs, answers
// for the network namespace the program runs in), the speed from sysfs and
// the XDG data folder.
class LinuxUsagePlatform final : public UsagePlatform {
public:
    QByteArray bootId() override;
    qint64 bootMs() override;
    qint64 utcNow() override;
    UsageRules::LinkKind linkKind(const QByteArray &name, quint32 type) override;
    QString dataFolder() override;

private:
    QByteArray bootId_;
};
