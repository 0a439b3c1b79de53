#pragma once

// What the tests of the Linux platform layer share.

#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

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

} // namespace netns
