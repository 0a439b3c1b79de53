#include "monitor/RateText.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "platform/qt/SteadyClock.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
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

    // Steady traffic over the loopback while the whole process is stopped for
    // 1.5 s, as a busy machine or a debugger would hold it: the tick after the
    // stop divides by the time that really passed, so no tick shows much more
    // than the kernel's bytes over that time, and the automatic thresholds
    // stay where the steady traffic put them.
    void stoppedProcessShowsTrueRates() {
        if (QStandardPaths::findExecutable(QStringLiteral("iperf3")).isEmpty())
            QSKIP("iperf3 is not installed; the stopped-process test did not run");
        // Started from this thread, the processes live in its namespace.
        QProcess server;
        QProcess client;
        const auto stop = qScopeGuard([&] {
            for (QProcess *p : {&client, &server}) {
                p->kill();
                p->waitForFinished(5000);
            }
        });
        server.start(QStringLiteral("iperf3"), {"-s", "-B", "127.0.0.1", "-1"});
        QVERIFY(server.waitForStarted());
        QTest::qWait(500);
        client.start(QStringLiteral("iperf3"),
                     {"-c", "127.0.0.1", "-b", "40M", "-l", "1400", "-t", "20"});
        QVERIFY(client.waitForStarted());
        QTest::qWait(1000);

        NetlinkInterfaceSource source;
        NetlinkInterfaceSource truthSource;
        SteadyClock clock;
        TestPlatform env;
        Platform platform = env.platform();
        platform.interfaces = &source;
        platform.clock = &clock;
        frmMain w(platform);
        w.showTrayIcon = w.animateTrayIcon = true;
        env.tray.shown = true;
        w.trackedAdapter = QStringLiteral("0");
        w.selectedAdapter = 1;
        QLineEdit *red = w.findChild<QLineEdit *>(QStringLiteral("txtRedThreshold"));

        // Right after each tick: the kernel's count and the clock, so the true
        // rate of a tick is the bytes counted over the time that really passed.
        struct Tick {
            double shown;
            double truth;
            double redThreshold;
        };
        std::vector<Tick> ticks;
        qint64 lastRx = -1;
        qint64 lastAt = 0;
        qint64 longestGap = 0;
        connect(&w, &frmMain::sampled, this, [&](const TickSample &sample) {
            InterfaceRow lo;
            if (!truthSource.interfaceRow(1, lo, InterfaceSource::Detail::Counters))
                return;
            const qint64 at = clock.nowNs();
            if (lastRx >= 0)
                longestGap = std::max(longestGap, at - lastAt);
            if (sample.hasRates && lastRx >= 0)
                ticks.push_back({sample.downRate,
                                 (qint64(lo.inOctets) - lastRx) * 1e9 / (at - lastAt),
                                 RateText::readNumber(red->text()).value_or(-1)});
            lastRx = qint64(lo.inOctets);
            lastAt = at;
        });
        w.tmrAdapterUpdate->start(300);
        QTest::qWait(2000);
        const size_t beforeStop = ticks.size();
        QVERIFY(beforeStop >= 2);
        const double redBefore = ticks.back().redThreshold;
        QVERIFY(redBefore > 0);
        QVERIFY(QProcess::startDetached(
            QStringLiteral("sh"),
            {"-c", QStringLiteral("kill -STOP %1; sleep 1.5; kill -CONT %1").arg(getpid())}));
        QTest::qWait(3000);
        w.tmrAdapterUpdate->stop();
        QVERIFY(ticks.size() > beforeStop + 2);
        QVERIFY2(longestGap >= 1400000000, "the process was not stopped");

        for (const Tick &t : ticks) {
            QVERIFY2(t.truth > 1e6, "iperf3 moved less than 1 MB/s over the loopback");
            QVERIFY2(t.shown <= 1.2 * t.truth,
                     qPrintable(QStringLiteral("shown %1 B/s against %2 B/s")
                                    .arg(t.shown, 0, 'f', 0)
                                    .arg(t.truth, 0, 'f', 0)));
        }
        // The threshold follows the steadiest traffic's ups and downs, no more.
        QVERIFY2(ticks.back().redThreshold <= 1.2 * redBefore,
                 qPrintable(QStringLiteral("red threshold %1 before the stop, %2 after")
                                .arg(redBefore)
                                .arg(ticks.back().redThreshold)));
    }
};

QTEST_MAIN(KernelTickTest)
#include "test_tick_kernel.moc"
