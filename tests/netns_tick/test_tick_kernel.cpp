#include "monitor/RateText.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool runIp(const QStringList &args, QByteArray *out = nullptr) {
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

// Sends count datagrams of size bytes to a socket of our own on the
// namespace's loopback, and reads them back.
bool loopTraffic(int count, int size) {
    const int rx = socket(AF_INET, SOCK_DGRAM, 0);
    const int tx = socket(AF_INET, SOCK_DGRAM, 0);
    bool ok = rx >= 0 && tx >= 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ok = ok && bind(rx, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
         getsockname(rx, reinterpret_cast<sockaddr *>(&addr), &len) == 0;
    QByteArray payload(size, 'z');
    for (int i = 0; ok && i < count; ++i) {
        ok = sendto(tx, payload.constData(), size_t(size), 0, reinterpret_cast<sockaddr *>(&addr),
                    sizeof addr) == size &&
             recv(rx, payload.data(), size_t(size), 0) == size;
    }
    if (rx >= 0)
        close(rx);
    if (tx >= 0)
        close(tx);
    return ok;
}

} // namespace

class KernelTickTest : public QObject {
    Q_OBJECT

    QString ns_;
    int home_ = -1;
    bool created_ = false;

    // rx and tx bytes of lo as the kernel counts them.
    std::pair<qint64, qint64> kernelCounters() {
        QByteArray json;
        if (!runIp({QStringLiteral("-n"), ns_, QStringLiteral("-s"), QStringLiteral("-j"),
                    QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("lo")},
                   &json))
            return {-1, -1};
        const QJsonObject stats =
            QJsonDocument::fromJson(json).array().at(0).toObject().value("stats64").toObject();
        return {qint64(stats.value("rx").toObject().value("bytes").toDouble(-1)),
                qint64(stats.value("tx").toObject().value("bytes").toDouble(-1))};
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        if (geteuid() != 0)
            QSKIP("creating a network namespace needs root; the kernel tick test did not run");
        ns_ = QStringLiteral("zarn-tick-%1").arg(getpid());
        if (!runIp({QStringLiteral("netns"), QStringLiteral("add"), ns_}))
            QSKIP("'ip netns add' failed (no namespace support here); the kernel tick test did "
                  "not run");
        created_ = true;
        QVERIFY(runIp({QStringLiteral("-n"), ns_, QStringLiteral("link"), QStringLiteral("set"),
                       QStringLiteral("lo"), QStringLiteral("up")}));
        home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target =
            open(qPrintable(QStringLiteral("/run/netns/") + ns_), O_RDONLY | O_CLOEXEC);
        QVERIFY(home_ >= 0 && target >= 0);
        QCOMPARE(setns(target, CLONE_NEWNET), 0);
        close(target);
    }

    void cleanupTestCase() {
        if (home_ >= 0) {
            setns(home_, CLONE_NEWNET);
            close(home_);
        }
        if (created_)
            runIp({QStringLiteral("netns"), QStringLiteral("del"), ns_});
    }

    // The labels follow the kernel: tick 1 adopts, tick 2 shows the kernel's
    // own totals, tick 3 the bytes moved in between as a rate.
    void labelsFollowTheKernel() {
        NetlinkInterfaceSource source;
        InterfaceRow probe;
        if (!source.interfaceRow(1, probe, InterfaceSource::Detail::Counters))
            QSKIP("the interface source cannot read the kernel's interfaces in this build");

        TestPlatform env;
        Platform platform = env.platform();
        platform.interfaces = &source;
        frmMain w(platform);
        w.tmrAdapterUpdate->setInterval(1000);
        w.trackedAdapter = QStringLiteral("0");
        w.selectedAdapter = 1;
        const auto text = [&w](const char *name) {
            return w.findChild<QLabel *>(QLatin1String(name))->text();
        };

        w.tmrAdapterUpdate_Timer();
        QCOMPARE(text("lblAdapterName"), probe.description);

        QVERIFY(loopTraffic(20, 1000));
        w.tmrAdapterUpdate_Timer();
        const auto [rx, tx] = kernelCounters();
        QVERIFY(rx > 20000);
        QCOMPARE(text("lblRecvBytes"), RateText::wholeNumber(rx));
        QCOMPARE(text("lblSentBytes"), RateText::wholeNumber(tx));
        QCOMPARE(text("lblDownBytes"), QString());

        QVERIFY(loopTraffic(50, 1400));
        w.tmrAdapterUpdate_Timer();
        const auto [rx2, tx2] = kernelCounters();
        QCOMPARE(text("lblRecvBytes"), RateText::wholeNumber(rx2));
        QCOMPARE(text("lblDownBytes"), RateText::wholeNumber(rx2 - rx));
        QCOMPARE(text("lblUpBytes"), RateText::wholeNumber(tx2 - tx));
    }
};

QTEST_MAIN(KernelTickTest)
#include "test_tick_kernel.moc"
