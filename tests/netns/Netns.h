#pragma once

// What the kernel tests share inside the namespaces netns.sh makes: the ip
// command, the veth pair to the peer namespace, the kernel's own counters,
// and traffic that stays inside the namespaces.

#include <QFile>
#include <QProcess>
#include <QTemporaryFile>
#include <QtTest>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#define ZARN_REQUIRE_NETNS()                                                                       \
    if (qEnvironmentVariableIsEmpty("ZARN_PEER_NETNS"))                                            \
    QSKIP("run through netns.sh: these tests need network namespaces of their own")

namespace netns {

inline QString peer() {
    return qEnvironmentVariable("ZARN_PEER_NETNS");
}

// False unless the program ends by itself with 0; out gets what it printed.
inline bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// One ip command a line, in one process: hundreds of links in well under a
// second, and names that are any bytes.
inline bool ipBatch(const QByteArray &lines) {
    QTemporaryFile file;
    return file.open() && file.write(lines + '\n') > 0 && file.flush() &&
           run(QStringLiteral("ip"), {QStringLiteral("-batch"), file.fileName()});
}

// zveth0 here (10.200.0.1/24) and zveth1 in the peer namespace
// (10.200.0.2/24), both up; index 0 lets the kernel choose.
inline bool vethPair(int index = 0) {
    const QByteArray p = peer().toUtf8();
    return ipBatch(
               (index ? "link add zveth0 index " + QByteArray::number(index) : "link add zveth0") +
               " type veth peer name zveth1 netns " + p +
               "\naddr add 10.200.0.1/24 dev zveth0\nlink set zveth0 up") &&
           run("ip", {"-n", peer(), "addr", "add", "10.200.0.2/24", "dev", "zveth1"}) &&
           run("ip", {"-n", peer(), "link", "set", "zveth1", "up"});
}

// A file of the link's folder in sysfs (counters: "statistics/rx_bytes").
inline QByteArray sysfs(const QByteArray &name, const char *file) {
    QFile f(QString::fromLocal8Bit("/sys/class/net/" + name + '/' + file));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

// count datagrams of size bytes over this namespace's loopback, each read
// back before the next goes: the kernel has counted them when this returns.
inline bool loopTraffic(int count, int size) {
    const int rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof to;
    auto *address = reinterpret_cast<sockaddr *>(&to);
    bool ok = rx >= 0 && tx >= 0 && ::bind(rx, address, sizeof to) == 0 &&
              ::getsockname(rx, address, &length) == 0;
    QByteArray data(size, 'z');
    for (int i = 0; ok && i < count; ++i)
        ok = ::sendto(tx, data.constData(), size_t(size), 0, address, sizeof to) == size &&
             ::recv(rx, data.data(), size_t(size), 0) == size;
    ::close(rx);
    ::close(tx);
    return ok;
}

// bytes from the peer namespace to here over the veth pair, by iperf3.
inline bool traffic(qint64 bytes) {
    QProcess server;
    server.start("iperf3", {"-s", "-1", "-B", "10.200.0.1"});
    if (!server.waitForStarted())
        return false;
    bool sent = false;
    for (int attempt = 0; attempt < 50 && !sent; ++attempt) {
        QThread::msleep(100); // until the server listens
        sent = run("ip", {"netns", "exec", peer(), "iperf3", "-c", "10.200.0.1", "-b", "2G", "-n",
                          QString::number(bytes)});
    }
    server.waitForFinished(10000);
    return sent;
}

} // namespace netns
