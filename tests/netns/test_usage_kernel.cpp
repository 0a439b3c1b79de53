// The usage history over the real kernel: what the built program counts of
// iperf3 traffic from the peer namespace over zveth0 is what the kernel
// counted, within 1 %, across a SIGKILL and a link made anew. And what the
// history asks Linux.

#include "Netns.h"
#include "platform/linux/LinuxUsagePlatform.h"
#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <list>

#include <csignal>

namespace {

const QString kProgram = QStringLiteral(ZARN_PROGRAM);
const qint64 kMB = 1000000;

// What zveth0 received so far, as the kernel counts it.
qint64 kernelReceived() {
    return netns::sysfs("zveth0", "statistics/rx_bytes").toLongLong();
}

// Ends p as a session would (its last save done when it has gone), or kills it.
bool stop(QProcess *p, int signal = SIGTERM) {
    if (p->processId() > 0) // 0 once it has gone: kill(0) would hit this test's process group
        ::kill(pid_t(p->processId()), signal);
    return p->waitForFinished(20000) &&
           (signal == SIGKILL || (p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0));
}

// Today's received bytes of zveth0 in the report; -1 without a report.
qint64 receivedToday() {
    QByteArray out; // empty when the report fails
    netns::run(kProgram, {"--usage", "zveth0", "--json"}, &out);
    const QJsonArray days = QJsonDocument::fromJson(out)["days"].toArray();
    return days.isEmpty() ? -1 : days.last()["received"].toInteger(-1);
}

} // namespace

class UsageKernelTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::list<QProcess> programs_; // killed, if still running, as they go

    QString data() const { return home_.path() + "/data"; }

    // fastSaves: every 300 ms instead of the program's own period.
    QProcess *start(bool fastSaves = false) {
        qputenv("ZARN_USAGE_SAVE_MS", fastSaves ? "300" : "0");
        QProcess *p = &programs_.emplace_back();
        p->start(kProgram, {});
        // Until it has seen zveth0 for the first time.
        return QTest::qWaitFor([] { return receivedToday() >= 0; }, 10000) ? p : nullptr;
    }

private slots:
    void initTestCase() {
        ZARN_REQUIRE_NETNS();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", data().toUtf8());
        Registry::writeSetting("HistoryInterfaces", "zveth0"); // veth is left out unless named
        Registry::writeSetting("UpdateFrequency", "200");
        QVERIFY(netns::ipBatch("link add zbr0 type bridge\ntuntap add dev ztun0 mode tun"));
    }

    void init() {
        QDir(data()).removeRecursively();
        netns::run("ip", {"link", "del", "zveth0"});
        QVERIFY(netns::vethPair());
    }

    void cleanup() { programs_.clear(); }

    // "known": traffic while the program runs, saved at the SIGTERM;
    // "killed": the traffic passes while the program is down after a
    // SIGKILL, and is counted when it starts again; "recreated": zveth0 goes
    // after traffic (saved) and comes back under its name, counting from zero.
    void counted_data() {
        const auto r = table<QString>({"how"});
        r("saved at exit", "known");
        r("killed and started again", "killed");
        r("link made anew under its name", "recreated");
    }
    void counted() {
        QFETCH(QString, how);
        QProcess *p = start(how == "recreated");
        QVERIFY(p);
        qint64 base = kernelReceived();
        qint64 expected = 0;
        if (how == "killed")
            QVERIFY(stop(p, SIGKILL));
        if (how == "recreated") {
            QVERIFY(netns::traffic(10 * kMB));
            QTest::qWait(1000);
            expected = kernelReceived() - base;
            QVERIFY(netns::run("ip", {"link", "del", "zveth0"}));
            QTest::qWait(600); // a few ticks find it gone
            QVERIFY(netns::vethPair());
            base = kernelReceived();
        }
        QVERIFY(netns::traffic(20 * kMB));
        if (how == "killed")
            QVERIFY(p = start());
        QTest::qWait(1000);
        QVERIFY(stop(p));
        expected += kernelReceived() - base;
        const qint64 got = receivedToday();
        QVERIFY2(qAbs(got - expected) <= expected / 100,
                 qPrintable(QStringLiteral("%1 counted, %2 passed").arg(got).arg(expected)));
        QCOMPARE(p->readAllStandardError().count("usage history"), 0);
        QCOMPARE(QFile::permissions(data() + "/ZarnDev/Zarn Bandwidth/usage.sqlite") & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    // What the history asks Linux: the link's kind by its driver (ethtool,
    // which answers for this namespace), its speed, the boot, the folder.
    void platform_data() {
        const auto r = table<QByteArray, quint32, int, quint64>({"name", "type", "kind", "speed"});
        using K = UsageRules::LinkKind;
        r("loopback", "lo", 24, int(K::Loopback), 0);
        r("veth", "zveth0", 6, int(K::Veth), Q_UINT64_C(10000000000));
        r("bridge", "zbr0", 6, int(K::Bridge), 0);
        r("tun", "ztun0", 131, int(K::Counted), 0);
    }
    void platform() {
        QFETCH(QByteArray, name);
        QFETCH(quint32, type);
        LinuxUsagePlatform platform;
        QTEST(int(platform.linkKind(name, type)), "kind");
        QTEST(platform.linkSpeed(name), "speed");
        QCOMPARE(platform.bootId(), fileBytes("/proc/sys/kernel/random/boot_id").trimmed());
        const qint64 uptimeMs = fileBytes("/proc/uptime").split(' ')[0].toDouble() * 1000;
        QVERIFY2(qAbs(platform.bootMs() - uptimeMs) < 1000, qPrintable(QString::number(uptimeMs)));
        QCOMPARE(platform.dataFolder(), data() + "/ZarnDev/Zarn Bandwidth");
    }
};

QTEST_GUILESS_MAIN(UsageKernelTest)
#include "test_usage_kernel.moc"
