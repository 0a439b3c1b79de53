#include "settings/Registry.h"
#include "support/Fakes.h"

#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryFile>
#include <QtTest>

// Two copies of the program changing options in one settings file at the
// same time. Every state of the file that a third process can see must be a
// whole, readable settings file, and once both are done the file must hold
// the last value each wrote: no change may be lost to the other copy's
// write of an older view of the file.
namespace {

struct Writer {
    QStringList flags;
    QString textKey;
    QString prefix;
};

// The value the writer leaves under flag number k after count changes.
QString lastFlagValue(int count, int flagCount, int k) {
    int last = -1;
    for (int i = 0; i < count; ++i)
        if (i % flagCount == k)
            last = i;
    return (last / flagCount) % 2 == 0 ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

class StoreConcurrencyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // On a disk, each write waits for the data to reach it, long enough
        // that two writes rarely share one tick of the file time. A file in
        // memory is written at once: the tests below then really meet two
        // writes within one tick, as copies on a fast disk do.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            qputenv("TMPDIR", "/dev/shm");
        qInfo("store in %s", qPrintable(QDir::tempPath()));
    }

    void twoWriters_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("sharedFlag");
        // Each copy also toggles a flag the other one toggles: the file
        // must stay whole however their writes interleave.
        // Two changes per round: 1000 changes by each copy.
        QTest::newRow("own flags") << 500 << false;
        QTest::newRow("one flag shared") << 500 << true;
    }
    void twoWriters() {
        QFETCH(int, count);
        QFETCH(bool, sharedFlag);
        TestPlatform env;
        const QString shared = QStringLiteral("ShowTrayIcon");
        Writer a{{QStringLiteral("MinimizeToTray"), QStringLiteral("StartupMinimized")},
                 QStringLiteral("YellowThreshold"),
                 QStringLiteral("a")};
        Writer b{{QStringLiteral("ShowBandwidthInTray"), QStringLiteral("AutoAdjustThreshold")},
                 QStringLiteral("RedThreshold"),
                 QStringLiteral("b")};
        if (sharedFlag) {
            a.flags << shared;
            b.flags << shared;
        }

        std::vector<std::unique_ptr<QProcess>> processes;
        for (const Writer *w : {&a, &b}) {
            auto p = std::make_unique<QProcess>();
            p->setProgram(QStringLiteral(ZARN_SETTINGS_WRITER));
            QStringList flags = w->flags;
            if (sharedFlag)
                flags.last().prepend(u'=');
            p->setArguments(QStringList{QString::number(count)} + flags +
                            QStringList{w->textKey, w->prefix});
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start();
            QVERIFY2(p->waitForStarted(), qPrintable(p->errorString()));
            processes.push_back(std::move(p));
        }

        // Read the file as a third process would, over and over, until both
        // are done. Each snapshot is parsed under a name of its own so that
        // no cached view of an earlier snapshot can stand in for it.
        const QString path = env.settingsFilePath();
        int snapshots = 0;
        const auto running = [&] {
            for (const auto &p : processes)
                if (p->state() != QProcess::NotRunning)
                    return true;
            return false;
        };
        QElapsedTimer clock;
        clock.start();
        while (running()) {
            for (const auto &p : processes)
                p->waitForFinished(1);
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = file.readAll();
            QTemporaryFile copy(env.configDir() + QStringLiteral("/snapshot-XXXXXX.conf"));
            QVERIFY(copy.open());
            copy.write(bytes);
            copy.close();
            QSettings view(copy.fileName(), QSettings::IniFormat);
            QCOMPARE(view.status(), QSettings::NoError);
            for (const QString &key : view.allKeys()) {
                const QVariant value = view.value(key);
                QCOMPARE(value.typeId(), int(QMetaType::QString));
                if (key.endsWith(QLatin1String("Threshold")) &&
                    key != QLatin1String("AutoAdjustThreshold"))
                    QVERIFY2(value.toString().startsWith(key.startsWith(u'Y') ? u'a' : u'b'),
                             qPrintable(value.toString()));
                else
                    QVERIFY2(value == QLatin1String("0") || value == QLatin1String("1"),
                             qPrintable(key + u'=' + value.toString()));
            }
            ++snapshots;
            QVERIFY2(clock.elapsed() < 240000, "writers did not finish");
        }
        qInfo("%d snapshots read while the writers ran", snapshots);

        for (const auto &p : processes) {
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QVERIFY2(p->exitCode() == 0,
                     qPrintable(QStringLiteral("values undone by the other copy: ") +
                                QString::fromLatin1(p->readAllStandardOutput()).trimmed()));
        }

        QSettings final(path, QSettings::IniFormat);
        QCOMPARE(final.status(), QSettings::NoError);
        for (const Writer *w : {&a, &b}) {
            QCOMPARE(final.value(w->textKey).toString(), w->prefix + QString::number(count - 1));
            for (int k = 0; k < int(w->flags.size()); ++k)
                QCOMPARE(final.value(w->flags.at(k)).toString(),
                         lastFlagValue(count, int(w->flags.size()), k));
        }
        QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
    }

    // The other copy changes a value right after this one wrote, within one
    // tick of the file system's clock, and to a text of the same length: the
    // file then has the same size and the same time as after this copy's own
    // write. This copy must still see the change, and its next write must
    // not undo it.
    void changeWithinOneTick() {
        TestPlatform env;
        QProcess other;
        other.setProgram(QStringLiteral(ZARN_SETTINGS_WRITER));
        other.setArguments({QStringLiteral("--serve")});
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start();
        QVERIFY(other.waitForStarted());

        int unseen = 0, undone = 0;
        const int rounds = 200;
        for (int r = 0; r < rounds; ++r) {
            const QString mine = r % 2 ? QStringLiteral("a1") : QStringLiteral("a0");
            const QString theirs = r % 2 ? QStringLiteral("1") : QStringLiteral("0");
            Registry::writeSetting(QStringLiteral("YellowThreshold"), mine);
            other.write("StartupMinimized " + theirs.toLatin1() + '\n');
            QVERIFY(other.waitForReadyRead(10000));
            QCOMPARE(other.readLine(), QByteArray("ok\n"));
            if (Registry::readSetting(QStringLiteral("StartupMinimized"), QString()) != theirs)
                ++unseen;
            Registry::writeSetting(QStringLiteral("MinimizeToTray"), theirs);
            if (QSettings(env.settingsFilePath(), QSettings::IniFormat)
                    .value(QStringLiteral("StartupMinimized")) != theirs)
                ++undone;
        }
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
        qInfo("%d rounds: change unseen %d times, undone %d times", rounds, unseen, undone);
        QCOMPARE(unseen, 0);
        QCOMPARE(undone, 0);
    }
};

QTEST_GUILESS_MAIN(StoreConcurrencyTest)
#include "test_store_concurrency.moc"
