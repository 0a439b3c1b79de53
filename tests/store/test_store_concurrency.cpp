#include "settings/Registry.h"
#include "support/Fakes.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>
#include <QtTest>

// Two copies of the program changing options in one settings file at the
// same time. Every state of the file that a third process can see must be a
// whole, readable settings file, and no change may be lost to the other
// copy's write of an older view of the file.
class StoreConcurrencyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // A file in memory is written at once: two writes then really meet
        // within one tick of the file time, as on a fast disk.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
            qputenv("TMPDIR", "/dev/shm");
    }

    void twoWriters() {
        TestPlatform env;
        const int count = 500;
        std::vector<std::unique_ptr<QProcess>> writers;
        for (const char *key : {"A", "B"}) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writers.back()->start(QStringLiteral(ZARN_SETTINGS_WRITER),
                                  {QString::number(count), QLatin1String(key)});
            QVERIFY(writers.back()->waitForStarted());
        }
        // Read the file as a third process would until both are done, each
        // snapshot under a name of its own so that no cached view stands in.
        int snapshots = 0;
        while (writers[0]->state() != QProcess::NotRunning ||
               writers[1]->state() != QProcess::NotRunning) {
            for (const auto &p : writers)
                p->waitForFinished(1);
            QTemporaryFile copy(env.configDir() + QStringLiteral("/snapshot-XXXXXX.conf"));
            QVERIFY(copy.open());
            copy.write(fileBytes(env.settingsFilePath()));
            copy.close();
            const QSettings view(copy.fileName(), QSettings::IniFormat);
            QCOMPARE(view.status(), QSettings::NoError);
            for (const QString &key : view.allKeys())
                QVERIFY2(view.value(key).typeId() == QMetaType::QString &&
                             (key != u"Shared" || view.value(key).toString().contains(
                                                      QRegularExpression("^[AB]\\d+$"))),
                         qPrintable(key + u'=' + view.value(key).toString()));
            ++snapshots;
        }
        qInfo("%d snapshots read while the writers ran", snapshots);
        for (const auto &p : writers)
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     qPrintable("values undone by the other copy: " + p->readAllStandardOutput()));
        const QSettings final(env.settingsFilePath(), QSettings::IniFormat);
        QCOMPARE(final.value("A").toString() + final.value("B").toString(), "499499");
        QVERIFY(!QFile::exists(env.settingsFilePath() + QStringLiteral(".lock")));
    }

    // The other copy changes a value right after this one wrote, within one
    // tick of the file system's clock, and to a text of the same length: the
    // file then has the same size and time as after this copy's own write.
    // This copy must still see the change, and its next write must not undo it.
    void changeWithinOneTick() {
        TestPlatform env;
        QProcess other;
        other.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        other.start(QStringLiteral(ZARN_SETTINGS_WRITER), {QStringLiteral("--serve")});
        QVERIFY(other.waitForStarted());
        int unseen = 0, undone = 0;
        for (int r = 0; r < 200; ++r) {
            const QString theirs = QString::number(r % 2);
            Registry::writeSetting(QStringLiteral("Mine"), QStringLiteral("a") + theirs);
            other.write("Theirs " + theirs.toLatin1() + '\n');
            QVERIFY(other.waitForReadyRead(10000));
            QCOMPARE(other.readLine(), QByteArray("ok\n"));
            unseen += Registry::readSetting(QStringLiteral("Theirs"), QString()) != theirs;
            Registry::writeSetting(QStringLiteral("Other"), theirs);
            undone +=
                QSettings(env.settingsFilePath(), QSettings::IniFormat).value("Theirs") != theirs;
        }
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(unseen, 0);
        QCOMPARE(undone, 0);
    }
};

QTEST_GUILESS_MAIN(StoreConcurrencyTest)
#include "test_store_concurrency.moc"
