#pragma once

// What the tests of the Linux platform layer share.

#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

// The values, blank-separated: a comparison shows the whole row.
template <typename... T> QString words(const T &...values) {
    QStringList out;
    (out << ... << QVariant::fromValue(values).toString());
    return out.join(u' ');
}

namespace netns {

// The namespace beside this one; empty unless run through netns.sh.
inline const QString peer = qEnvironmentVariable("ZARN_PEER_NETNS");

// One ip command a line in one process (fast for hundreds), here or in ns.
inline bool ipBatch(const QByteArray &lines, const QString &ns = {}) {
    QTemporaryFile file;
    if (!file.open() || file.write(lines + '\n') <= 0 || !file.flush())
        return false;
    const QStringList args{"-n", ns, "-batch", file.fileName()};
    return QProcess::execute("ip", args.mid(ns.isEmpty() ? 2 : 0)) == 0;
}

// zveth0 here (10.200.0.1/24), zveth1 in the peer namespace (10.200.0.2/24);
// anew: the old pair removed in the same batch.
inline bool vethPair(bool anew = false) {
    return ipBatch(QByteArray(anew ? "link del zveth0\n" : "") +
                   "link add zveth0 type veth peer name zveth1 netns " + peer.toUtf8() +
                   "\naddr add 10.200.0.1/24 dev zveth0\nlink set zveth0 up") &&
           ipBatch("addr add 10.200.0.2/24 dev zveth1\nlink set zveth1 up", peer);
}

// bytes from the peer namespace to here over the veth pair, by iperf3.
inline bool traffic(qint64 bytes) {
    QProcess server; // says so once it listens
    server.start("iperf3", {"-s", "-1", "-B", "10.200.0.1", "--forceflush"});
    return server.waitForReadyRead(10000) &&
           QProcess::execute("ip", {"netns", "exec", peer, "iperf3", "-c", "10.200.0.1", "-b", "2G",
                                    "-n", QString::number(bytes), "--logfile", "/dev/null"}) == 0 &&
           server.waitForFinished(10000);
}

// A counter of link as the kernel has it in sysfs ("rx_bytes", "tx_bytes").
inline quint64 statistic(const QByteArray &link, const char *which) {
    QFile f(QString::fromUtf8("/sys/class/net/" + link + "/statistics/" + which));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toULongLong() : 0;
}

// At least bytes of raw Ethernet frames of size bytes each, sent on link from
// a packet socket bound to it: they count as sent there, and the receiving
// side drops them (an unused EtherType, to an address no link has). Bound
// to no protocol, the socket takes none of them back itself. Past the queueing
// discipline: a link just set up drops all it is given until the kernel's
// link watch gets round to giving it one, while the driver takes them at once.
inline bool sendFrames(const QByteArray &link, qint64 bytes, int size = 1500) {
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0), bypass = 1;
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_ifindex = int(if_nametoindex(link.constData()));
    bool ok = fd >= 0 && at.sll_ifindex > 0 &&
              ::setsockopt(fd, SOL_PACKET, PACKET_QDISC_BYPASS, &bypass, sizeof bypass) == 0 &&
              ::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
    QByteArray frame(size, '\0');
    frame.replace(0, 14, QByteArray::fromHex("02000000000102000000000288b5"));
    for (qint64 left = bytes; ok && left > 0; left -= size)
        ok = ::send(fd, frame.constData(), size_t(size), 0) == size;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace netns
