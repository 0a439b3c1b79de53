#include "platform/windows/WindowsUsagePlatform.h"

#include "platform/windows/IpHelper.h"

#include <ctime>

QByteArray WindowsUsagePlatform::bootId() {
    // Windows counts its boots for the prefetcher. Without the value (Wine
    // has none) the history cannot tell a reboot, and a counter that is
    // higher after one is dropped as implausible rather than counted twice.
    if (bootId_.isEmpty()) {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (RegGetValueW(HKEY_LOCAL_MACHINE,
                         L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\"
                         L"Memory Management\\PrefetchParameters",
                         L"BootId", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS)
            bootId_ = QByteArray::number(quint64(value));
    }
    return bootId_;
}

qint64 WindowsUsagePlatform::bootMs() {
    return qint64(GetTickCount64());
}

qint64 WindowsUsagePlatform::utcNow() {
    return qint64(::time(nullptr));
}

UsageRules::LinkKind WindowsUsagePlatform::linkKind(const QByteArray &, quint32 type) {
    return type == IF_TYPE_SOFTWARE_LOOPBACK ? UsageRules::LinkKind::Loopback
                                             : UsageRules::LinkKind::Counted;
}

QString WindowsUsagePlatform::dataFolder() {
    return standardDataFolder();
}
