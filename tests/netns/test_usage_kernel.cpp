#include "support/Fakes.h"
#include "support/Table.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The usage history of the real program over the real kernel: bytes sent by
// iperf3 from namespace B to A over the veth pair zveth0/zveth1 must be in
// the report of zveth0 within 1 %, across a kill, a re-created link and two
// copies at once; a store broken while the program runs stops the history,
// never the program, and never touches the settings.

namespace {

const QString kProgram = QStringLiteral(ZARN_PROGRAM);
const qint64 kMB = 1000000;

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

QString peer() {
    return qEnvironmentVariable("ZARN_PEER_NETNS");
}

// zveth0 here, zveth1 in the peer namespace, both up with their addresses.
bool makeLink() {
    return run("ip", {"link", "add", "zveth0", "type", "veth", "peer", "name", "zveth1", "netns",
                      peer()}) &&
           run("ip", {"addr", "add", "10.201.0.1/24", "dev", "zveth0"}) &&
           run("ip", {"-n", peer(), "addr", "add", "10.201.0.2/24", "dev", "zveth1"}) &&
           run("ip", {"link", "set", "zveth0", "up"}) &&
           run("ip", {"-n", peer(), "link", "set", "zveth1", "up"});
}

// Bytes zveth0 received so far, as the kernel counts them: iperf3 -n stops
// sending at n bytes, but may close the connection with data still queued.
qint64 kernelReceived() {
    QByteArray json;
    if (!run("ip", {"-s", "-j", "link", "show", "zveth0"}, &json))
        return -1;
    return QJsonDocument::fromJson(json)[0]["stats64"]["rx"]["bytes"].toInteger(-1);
}

// bytes from the peer to here, over the veth pair.
bool traffic(qint64 bytes) {
    QProcess server;
    server.start("iperf3", {"-s", "-1", "-B", "10.201.0.1"});
    if (!server.waitForStarted())
        return false;
    bool sent = false;
    for (int attempt = 0; attempt < 50 && !sent; ++attempt) {
        QThread::msleep(100);
        sent = run("ip", {"netns", "exec", peer(), "iperf3", "-c", "10.201.0.1", "-b", "2G", "-n",
                          QString::number(bytes)});
    }
    server.waitForFinished(10000);
    return sent;
}

} // namespace

class UsageKernelTest : public QObject {
    Q_OBJECT

    QTemporaryDir home_;
    std::vector<std::unique_ptr<QProcess>> programs_;

    QString config() const { return home_.path() + "/config"; }
    QString data() const { return home_.path() + "/data"; }
    QString store() const { return data() + "/ZarnDev/Zarn Bandwidth/usage.sqlite"; }
    QString settingsFile() const { return config() + "/ZarnDev/Zarn Bandwidth.conf"; }

    QProcessEnvironment environment(const QString &savePeriodMs = QString()) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_CONFIG_HOME", config());
        env.insert("XDG_DATA_HOME", data());
        if (!savePeriodMs.isEmpty())
            env.insert("ZARN_USAGE_SAVE_MS", savePeriodMs);
        return env;
    }

    QProcess *start(const QString &savePeriodMs = QString()) {
        programs_.push_back(std::make_unique<QProcess>());
        QProcess *p = programs_.back().get();
        p->setProcessEnvironment(environment(savePeriodMs));
        p->start(kProgram, {});
        return p->waitForStarted() ? p : nullptr;
    }

    // Ends p as a session would; its last save must be done when it has gone.
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
        QProcessEnvironment env = environment();
        env.remove("DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb"); // no display: the report must not need one
        p.setProcessEnvironment(env);
        p.start(kProgram, QStringList{"--usage"} + args);
        p.waitForFinished(20000);
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                p.readAllStandardOutput(), p.readAllStandardError()};
    }

    // Today's received bytes of zveth0 in the report; -1 without a report.
    qint64 receivedToday() {
        const Report r = report();
        if (r.code != 0)
            return -1;
        const QJsonArray days = QJsonDocument::fromJson(r.out).object().value("days").toArray();
        return days.isEmpty() ? -1 : days.last().toObject().value("received").toInteger(-1);
    }

    // Until the running program has seen zveth0 for the first time.
    bool sighted() {
        return QTest::qWaitFor([this] { return report().code == 0; }, 10000);
    }

private slots:
    void initTestCase() {
        if (peer().isEmpty())
            QSKIP("run through run_usage_netns.sh, which makes the namespaces");
        QVERIFY(home_.isValid());
    }

    void init() {
        QDir(config()).removeRecursively();
        QDir(data()).removeRecursively();
        QDir().mkpath(config() + "/ZarnDev");
        QFile settings(settingsFile());
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[General]\nHistoryInterfaces=zveth0 zveth1\nUpdateFrequency=200\n");
        settings.close();
        run("ip", {"link", "del", "zveth0"});
        QVERIFY(makeLink());
    }

    void cleanup() {
        for (auto &p : programs_)
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
        programs_.clear();
        run("umount", {store()});
        run("umount", {data()});
    }

    // How: "known" traffic with the program running, saved only at start
    // and at the SIGTERM; "killed" while the program is down after a
    // SIGKILL; "recreated": zveth0 is the selected adapter, deleted after
    // traffic (its last tick is saved) and made again under its name, and
    // more traffic than before passes before the next save; "two" programs
    // saving every 300 ms at once.
    void counted_data() {
        const auto r =
            table<QString, QString, qint64, qint64>({"how", "period", "before", "after"});
        r("known traffic, saved at exit", "known", "", 0, 20 * kMB);
        r("killed and started again", "killed", "", 0, 20 * kMB);
        r("selected link re-created under its name", "recreated", "", 10 * kMB, 20 * kMB);
        r("two copies at once", "two", "300", 0, 20 * kMB);
    }
    void counted() {
        QFETCH(QString, how);
        QFETCH(QString, period);
        QFETCH(qint64, before);
        QFETCH(qint64, after);
        if (how == "recreated") {
            QByteArray json;
            QVERIFY(run("ip", {"-j", "link", "show", "zveth0"}, &json));
            QFile settings(settingsFile());
            QVERIFY(settings.open(QIODevice::Append));
            settings.write("Adapter=" +
                           QByteArray::number(QJsonDocument::fromJson(json)[0]["ifindex"].toInt()) +
                           "\n");
        }
        QProcess *p = start(period);
        QProcess *second = how == "two" ? start(period) : nullptr;
        QVERIFY(p && sighted());
        qint64 base = kernelReceived();
        qint64 expected = 0;
        if (before)
            QVERIFY(traffic(before));
        if (how == "killed")
            QVERIFY(stop(p, SIGKILL));
        if (how == "recreated") {
            QTest::qWait(1000); // saved
            expected += kernelReceived() - base;
            QVERIFY(run("ip", {"link", "del", "zveth0"}));
            QTest::qWait(600); // a few ticks find it gone
            QVERIFY(makeLink());
            base = kernelReceived();
        }
        QVERIFY(traffic(after));
        if (how == "killed")
            QVERIFY(p = start(period));
        QTest::qWait(1000);
        QVERIFY(stop(p));
        if (second)
            QVERIFY(stop(second));
        expected += kernelReceived() - base;
        // The kernel's count is what passed; iperf3's figure is near it.
        QVERIFY2(qAbs(expected - before - after) <= (before + after) / 10,
                 qPrintable(QString::number(expected)));
        const qint64 got = receivedToday();
        QVERIFY2(qAbs(got - expected) <= expected / 100,
                 qPrintable(QStringLiteral("%1 counted, %2 passed").arg(got).arg(expected)));
        QCOMPARE(p->readAllStandardError().count("usage history"), 0);

        // The report reads without writing: with no program running, not a
        // file in the store's folder changes, none appears.
        const auto listing = [this] {
            QStringList out;
            for (const QFileInfo &f : QDir(QFileInfo(store()).path()).entryInfoList(QDir::Files))
                out << f.fileName() + QString::number(f.size()) +
                           f.lastModified().toString(Qt::ISODateWithMs);
            return out;
        };
        const QStringList files = listing();
        QCOMPARE(report().code, 0);
        // The selected adapter's history by default; with none selected, one
        // line on stderr.
        QCOMPARE(report({}).code, how == "recreated" ? 0 : 1);
        QCOMPARE(listing(), files);
        QCOMPARE(QFileInfo(store()).permissions() & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(QFileInfo(QFileInfo(store()).path()).permissions() & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The store is broken while the program runs (on a small tmpfs of its
    // own): the program goes on, says so once, and at the next start too;
    // the report says what is wrong; the settings file stays as it was.
    void brokenStore_data() {
        const auto r = table<QString, QString, bool>({"damage", "reason", "reportWorks"});
        r("truncated", "truncate", "damaged", false);
        r("garbage written into it", "garbage", "damaged", false);
        r("read-only", "readonly", "read-only", true);
        r("disk full", "full", "disk is full", true);
    }
    void brokenStore() {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        QFETCH(bool, reportWorks);
        QDir().mkpath(data());
        QVERIFY(run("mount", {"-t", "tmpfs", "-o", "size=256k", "zarn-usage", data()}));
        const QByteArray settingsBefore = fileBytes(settingsFile());
        QProcess *p = start("300");
        QVERIFY(p && sighted());
        QVERIFY(traffic(5 * kMB));
        QTest::qWait(1000);
        // The store is the file and its journal: the journal alone would
        // bring a damaged file back.
        if (damage == "truncate") {
            for (const QString &file : {store(), store() + "-wal"})
                QVERIFY(QFile::resize(file, 1500));
        } else if (damage == "garbage") {
            for (const QString &file : {store(), store() + "-wal"}) {
                QFile f(file);
                QVERIFY(f.open(QIODevice::ReadWrite));
                f.write(QByteArray(f.size(), '\x5a'));
            }
        } else if (damage == "readonly") {
            // Root writes to any file; a read-only mount stops it.
            QVERIFY(run("mount", {"--bind", store(), store()}));
            QVERIFY(run("mount", {"-o", "remount,bind,ro", store()}));
        } else {
            QFile fill(data() + "/fill");
            QVERIFY(fill.open(QIODevice::WriteOnly));
            while (fill.write(QByteArray(4096, 'f')) == 4096 && fill.flush()) {
            }
        }
        QVERIFY(traffic(1 * kMB));
        QTest::qWait(1500);
        QCOMPARE(p->state(), QProcess::Running); // monitoring goes on
        QVERIFY(stop(p));
        const QByteArray said = p->readAllStandardError();
        // The running copy notices a full disk at its next save; a damaged
        // file only when it reads the page again, and a read-only mount not
        // at all (its open file stays writable). Never more than once.
        QVERIFY2(damage == "full" ? said.count("usage history is off") == 1
                                  : said.count("usage history is off") <= 1,
                 said.constData());

        QProcess *again = start();
        QVERIFY(again);
        QTest::qWait(1500);
        QCOMPARE(again->state(), QProcess::Running);
        QVERIFY(stop(again));
        const QByteArray saidAgain = again->readAllStandardError();
        if (damage != "full") // the next start may have room again
            QVERIFY2(saidAgain.contains("usage history is off") &&
                         saidAgain.contains(reason.toUtf8()),
                     saidAgain.constData());
        const Report r = report();
        QVERIFY2(r.code == (reportWorks ? 0 : 1), r.err.constData());
        if (damage != "full")
            QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
        if (reportWorks)
            QVERIFY2(receivedToday() >= 5 * kMB, r.out.constData()); // nothing saved was lost
        QCOMPARE(fileBytes(settingsFile()), settingsBefore);
    }
};

QTEST_GUILESS_MAIN(UsageKernelTest)
#include "test_usage_kernel.moc"
