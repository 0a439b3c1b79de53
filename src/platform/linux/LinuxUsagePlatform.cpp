#include "platform/linux/LinuxUsagePlatform.h"

#include <QFile>
#include <cstring>
#include <ctime>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr quint32 kLoopbackType = 24;

QByteArray driverName(const QByteArray &name) {
    if (name.isEmpty() || name.size() >= IFNAMSIZ)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    ifreq request{};
    std::memcpy(request.ifr_name, name.constData(), size_t(name.size()));
    request.ifr_data = reinterpret_cast<char *>(&info);
    const bool ok = ::ioctl(fd, SIOCETHTOOL, &request) == 0;
    ::close(fd);
    return ok ? QByteArray(info.driver, int(strnlen(info.driver, sizeof info.driver)))
              : QByteArray();
}

} // namespace

QByteArray LinuxUsagePlatform::bootId() {
    if (bootId_.isEmpty()) {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        if (file.open(QIODevice::ReadOnly))
            bootId_ = file.readAll().trimmed();
    }
    return bootId_;
}

qint64 LinuxUsagePlatform::bootMs() {
    timespec t{};
    clock_gettime(CLOCK_BOOTTIME, &t);
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

qint64 LinuxUsagePlatform::utcNow() {
    return qint64(::time(nullptr));
}

UsageRules::LinkKind LinuxUsagePlatform::linkKind(const QByteArray &name, quint32 type) {
    if (type == kLoopbackType)
        return UsageRules::LinkKind::Loopback;
    const QByteArray driver = driverName(name);
    if (driver == "veth")
        return UsageRules::LinkKind::Veth;
    if (driver == "bridge")
        return UsageRules::LinkKind::Bridge;
    return UsageRules::LinkKind::Counted;
}

QString LinuxUsagePlatform::dataFolder() {
    return standardDataFolder();
}
