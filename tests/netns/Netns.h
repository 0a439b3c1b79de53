#pragma once

// What the kernel tests share inside the namespaces netns.sh makes: the ip
// command, the veth pair to the peer namespace, sysfs, traffic.

#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <net/if.h>

#define ZARN_REQUIRE_NETNS()                                                                       \
    if (qEnvironmentVariableIsEmpty("ZARN_PEER_NETNS"))                                            \
    QSKIP("run through netns.sh: these tests need network namespaces of their own")

// The values, blank-separated: rows that a comparison shows whole.
template <typename... T> QString words(const T &...values) {
    QStringList out;
    (out << ... << QVariant::fromValue(values).toString());
    return out.join(u' ');
}

namespace netns {

inline QString peer() {
    return qEnvironmentVariable("ZARN_PEER_NETNS");
}

// False unless the program ends by itself with 0; out gets what it printed.
inline bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr) {
    QProcess p;
    p.start(program, args);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (out)
        *out = p.readAllStandardOutput();
    return ok;
}

// One ip command a line, in one process: hundreds of links in well under a
// second, and names that are any bytes.
inline bool ipBatch(const QByteArray &lines) {
    QTemporaryFile file;
    return file.open() && file.write(lines + '\n') > 0 && file.flush() &&
           run(QStringLiteral("ip"), {QStringLiteral("-batch"), file.fileName()});
}

// zveth0 here (10.200.0.1/24), zveth1 in the peer namespace (10.200.0.2/24).
inline bool vethPair() {
    return ipBatch("link add zveth0 type veth peer name zveth1 netns " + peer().toUtf8() +
                   "\naddr add 10.200.0.1/24 dev zveth0\nlink set zveth0 up") &&
           run("ip", {"-n", peer(), "addr", "add", "10.200.0.2/24", "dev", "zveth1"}) &&
           run("ip", {"-n", peer(), "link", "set", "zveth1", "up"});
}

// A file of the link's folder in sysfs (counters: "statistics/rx_bytes").
inline QByteArray sysfs(const QByteArray &name, const char *file) {
    QFile f(QString::fromLocal8Bit("/sys/class/net/" + name + '/' + file));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

// bytes from the peer namespace to here over the veth pair, by iperf3.
inline bool traffic(qint64 bytes) {
    QProcess server; // says so once it listens
    server.start("iperf3", {"-s", "-1", "-B", "10.200.0.1", "--forceflush"});
    const bool sent = server.waitForReadyRead(10000) &&
                      run("ip", {"netns", "exec", peer(), "iperf3", "-c", "10.200.0.1", "-b", "2G",
                                 "-n", QString::number(bytes)});
    return server.waitForFinished(10000) && sent;
}

} // namespace netns
