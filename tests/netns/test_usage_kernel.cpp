// The usage history over the real kernel: what the built program counts of
// iperf3 traffic from the peer namespace over zveth0 must be what the kernel
// counted, within 1 %, across a SIGKILL and a link made anew; a store on a
// full or read-only disk stops the history, never the program. And the
// Linux platform's own answers: link kinds by driver, speeds, boot id.

#include "Netns.h"
#include "platform/linux/LinuxUsagePlatform.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>
#include <ctime>

namespace {

const QString kProgram = QStringLiteral(ZARN_PROGRAM);
const qint64 kMB = 1000000;

// Bytes zveth0 received so far, as the kernel counts them: iperf3 -n stops
// sending at n bytes, but may close the connection with data still queued.
qint64 kernelReceived() {
    return netns::sysfs("zveth0", "statistics/rx_bytes").toLongLong();
}

} // namespace

class UsageKernelTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::vector<std::unique_ptr<QProcess>> programs_;

    QString data() const { return home_.path() + "/data"; }
    QString store() const { return data() + "/ZarnDev/Zarn Bandwidth/usage.sqlite"; }
    QString settingsFile() const { return home_.path() + "/config/ZarnDev/Zarn Bandwidth.conf"; }

    // fastSaves: every 300 ms instead of the program's own period.
    QProcess *start(bool fastSaves = false) {
        programs_.push_back(std::make_unique<QProcess>());
        QProcess *p = programs_.back().get();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (fastSaves)
            env.insert("ZARN_USAGE_SAVE_MS", "300");
        p->setProcessEnvironment(env);
        p->start(kProgram, {});
        return p->waitForStarted() ? p : nullptr;
    }

    // Ends p as a session would; its last save is done when it has gone.
    static bool stop(QProcess *p, int signal = SIGTERM) {
        ::kill(pid_t(p->processId()), signal);
        return p->waitForFinished(20000) &&
               (signal == SIGKILL ||
                (p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0));
    }

    struct Report {
        int code = -1;
        QByteArray out, err;
    };
    Report report(const QStringList &args = {"zveth0", "--json"}) {
        QProcess p;
        p.start(kProgram, QStringList{"--usage"} + args);
        p.waitForFinished(20000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardOutput(), p.readAllStandardError()};
    }

    // Today's received bytes of zveth0 in the report; -1 without a report.
    qint64 receivedToday() {
        const Report r = report();
        const QJsonArray days = QJsonDocument::fromJson(r.out).object().value("days").toArray();
        return r.code || days.isEmpty() ? -1
                                        : days.last().toObject().value("received").toInteger(-1);
    }

    // Until the running program has seen zveth0 for the first time.
    bool sighted() {
        return QTest::qWaitFor([this] { return report().code == 0; }, 10000);
    }

private slots:
    void initTestCase() {
        ZARN_REQUIRE_NETNS();
        QVERIFY(home_.isValid());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", data().toUtf8());
    }

    void init() {
        QDir(home_.path()).removeRecursively();
        QDir().mkpath(QFileInfo(settingsFile()).path());
        QFile settings(settingsFile());
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[General]\nHistoryInterfaces=zveth0\nUpdateFrequency=200\n");
        settings.close();
        netns::run("ip", {"link", "del", "zveth0"});
        QVERIFY(netns::vethPair());
    }

    void cleanup() {
        for (auto &p : programs_)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        programs_.clear();
        netns::run("umount", {store()});
        netns::run("umount", {data()});
    }

    // "known": traffic while the program runs, saved at the SIGTERM;
    // "killed": all traffic passes while the program is down after a
    // SIGKILL, and is counted when it starts again; "recreated": zveth0 goes
    // after traffic and comes back under its name, counting from zero.
    void counted_data() {
        const auto r = table<QString, qint64, qint64>({"how", "before", "after"});
        r("saved at exit", "known", 0, 20 * kMB);
        r("killed and started again", "killed", 0, 20 * kMB);
        r("link made anew under its name", "recreated", 10 * kMB, 20 * kMB);
    }
    void counted() {
        QFETCH(QString, how);
        QFETCH(qint64, before);
        QFETCH(qint64, after);
        QProcess *p = start(how == "recreated"); // saved before the link goes
        QVERIFY(p && sighted());
        qint64 base = kernelReceived();
        qint64 expected = 0;
        if (before)
            QVERIFY(netns::traffic(before));
        if (how == "killed")
            QVERIFY(stop(p, SIGKILL));
        if (how == "recreated") {
            QTest::qWait(1000);
            expected += kernelReceived() - base;
            QVERIFY(netns::run("ip", {"link", "del", "zveth0"}));
            QTest::qWait(600); // a few ticks find it gone
            QVERIFY(netns::vethPair());
            base = kernelReceived();
        }
        QVERIFY(netns::traffic(after));
        if (how == "killed")
            QVERIFY(p = start());
        QTest::qWait(1000);
        QVERIFY(stop(p));
        expected += kernelReceived() - base;
        QVERIFY2(qAbs(expected - before - after) <= (before + after) / 10,
                 qPrintable(QString::number(expected)));
        const qint64 got = receivedToday();
        QVERIFY2(qAbs(got - expected) <= expected / 100,
                 qPrintable(QStringLiteral("%1 counted, %2 passed").arg(got).arg(expected)));
        QCOMPARE(p->readAllStandardError().count("usage history"), 0);
        QCOMPARE(QFileInfo(store()).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
    }

    // The store's disk fills up while the program runs (a small tmpfs of
    // its own): monitoring goes on, the program says once why the history
    // is off, and the report still shows what was saved.
    void diskFull() {
        QDir().mkpath(data());
        QVERIFY(netns::run("mount", {"-t", "tmpfs", "-o", "size=256k", "zarn-usage", data()}));
        QProcess *p = start(true);
        QVERIFY(p && sighted());
        QVERIFY(netns::traffic(5 * kMB));
        QTest::qWait(1000);
        QFile fill(data() + "/fill");
        QVERIFY(fill.open(QIODevice::WriteOnly));
        while (fill.write(QByteArray(4096, 'f')) == 4096 && fill.flush()) {
        }
        QVERIFY(netns::traffic(kMB));
        QTest::qWait(1500);
        QCOMPARE(p->state(), QProcess::Running);
        QVERIFY(stop(p));
        const QByteArray said = p->readAllStandardError();
        QVERIFY2(said.count("usage history is off") == 1 && said.contains("disk is full"),
                 said.constData());
        QVERIFY(receivedToday() >= 5 * kMB);
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
        r("no such link", "zmissing", 6, int(K::Counted), 0);
    }
    void platform() {
        QFETCH(QByteArray, name);
        QFETCH(quint32, type);
        QVERIFY(netns::ipBatch("link add zbr0 type bridge\ntuntap add dev ztun0 mode tun"));
        const auto cleanup = qScopeGuard([] { netns::ipBatch("link del zbr0\nlink del ztun0"); });
        LinuxUsagePlatform platform;
        QTEST(int(platform.linkKind(name, type)), "kind");
        QTEST(platform.linkSpeed(name), "speed");
        QCOMPARE(platform.bootId(), fileBytes("/proc/sys/kernel/random/boot_id").trimmed());
        QVERIFY(qAbs(platform.utcNow() - ::time(nullptr)) <= 1);
        const qint64 uptimeMs = fileBytes("/proc/uptime").split(' ')[0].toDouble() * 1000;
        QVERIFY2(qAbs(platform.bootMs() - uptimeMs) < 1000, qPrintable(QString::number(uptimeMs)));
        QCOMPARE(platform.dataFolder(), data() + "/ZarnDev/Zarn Bandwidth");
    }
};

QTEST_GUILESS_MAIN(UsageKernelTest)
#include "test_usage_kernel.moc"
