#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Immutable.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <memory>

// A settings store the program cannot use as it would like: a folder it may
// not write, a file it may not replace, a file cut short or full of junk.
// The program starts and runs on what it can read, the options the user
// changes apply for the session, and nothing it had stored is lost by
// reading it.
namespace {

enum class Damage {
    FolderFrozen,  // the settings folder refuses new files and renames
    FolderIsAFile, // a plain file where the settings folder belongs
    FileFrozen,    // the settings file itself may not be replaced
    FileIsAFolder, // a folder where the settings file belongs
    Truncated,     // a good file cut off in the middle of a line
    RandomBytes,   // 64 KiB of random bytes
    HalfLine,      // an open quote that never closes
    NulBytes,      // a file of zero bytes
    Huge,          // 16 MiB: a good file followed by many lines of junk
};

const QByteArray kGood = "[General]\n"
                         "MinimizeToTray=0\n"
                         "UpdateFrequency=700\n"
                         "YellowThreshold=3\n";

template <typename T> T *control(frmMain &window, const char *name) {
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// Every file below the folder, with its contents: a store left exactly as
// it was has the same picture before and after.
QMap<QString, QByteArray> picture(const QString &folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(folder.size()),
                     QFileInfo(path).isDir() ? QByteArray("<folder>") : readAll(path));
    }
    return files;
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

} // namespace

class BrokenStoreTest : public QObject {
    Q_OBJECT
private slots:
    void brokenStore_data() {
        QTest::addColumn<int>("damage");
        QTest::addColumn<bool>("writable");       // can the user's changes reach the disk?
        QTest::addColumn<bool>("goodValuesRead"); // are kGood's values in use?
        QTest::newRow("folder unwritable") << int(Damage::FolderFrozen) << false << true;
        QTest::newRow("folder is a file") << int(Damage::FolderIsAFile) << false << false;
        QTest::newRow("file read-only") << int(Damage::FileFrozen) << false << true;
        QTest::newRow("file is a folder") << int(Damage::FileIsAFolder) << false << false;
        QTest::newRow("truncated") << int(Damage::Truncated) << true << true;
        QTest::newRow("random bytes") << int(Damage::RandomBytes) << true << false;
        QTest::newRow("half a line") << int(Damage::HalfLine) << true << true;
        QTest::newRow("zero bytes") << int(Damage::NulBytes) << true << false;
        QTest::newRow("huge") << int(Damage::Huge) << true << true;
    }

    void brokenStore() {
        QFETCH(int, damage);
        QFETCH(bool, writable);
        QFETCH(bool, goodValuesRead);
        TestPlatform env;
        env.interfaces.add(1, QStringLiteral("lo"), 24);
        const QString file = env.settingsFilePath();
        const QString folder = QFileInfo(file).path();
        std::unique_ptr<Immutable> frozen;

        switch (Damage(damage)) {
        case Damage::FolderFrozen:
            env.writeSettingsFile(kGood);
            frozen = std::make_unique<Immutable>(folder);
            break;
        case Damage::FolderIsAFile: {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.write(kGood);
            break;
        }
        case Damage::FileFrozen:
            env.writeSettingsFile(kGood);
            frozen = std::make_unique<Immutable>(file);
            break;
        case Damage::FileIsAFolder:
            QVERIFY(QDir().mkpath(file));
            break;
        case Damage::Truncated:
            env.writeSettingsFile(kGood + "StartupMinimi");
            break;
        case Damage::RandomBytes:
            env.writeSettingsFile(randomBytes(64 * 1024, 7));
            break;
        case Damage::HalfLine:
            env.writeSettingsFile(kGood + "RedThreshold=\"12");
            break;
        case Damage::NulBytes:
            env.writeSettingsFile(QByteArray(4096, '\0'));
            break;
        case Damage::Huge: {
            QByteArray junk = kGood;
            const QByteArray line =
                "Junk" + QByteArray(100, 'j') + "=" + QByteArray(150, 'v') + "\n";
            while (junk.size() < 16 * 1024 * 1024)
                junk += line;
            env.writeSettingsFile(junk);
            break;
        }
        }
        if (frozen) {
            if (!frozen->works())
                QSKIP("cannot make the store unchangeable here");
            qInfo("store made unchangeable by %s", frozen->how());
        }
        const QMap<QString, QByteArray> before = picture(env.configDir());

        QElapsedTimer clock;
        clock.start();
        frmMain window(env.platform());
        window.startUp();
        for (int i = 0; i < 3; ++i)
            window.tmrAdapterUpdate_Timer();
        qInfo("start-up and three ticks: %lld ms", clock.elapsed());

        QCOMPARE(control<QLabel>(window, "lblVersion")->text(),
                 QStringLiteral("Zarn Bandwidth Version 1.20"));
        QCOMPARE(control<QLabel>(window, "lblAdapterName")->text(),
                 QStringLiteral("No adapter selected"));
        QCOMPARE(window.tmrAdapterUpdate->interval(), goodValuesRead ? 700 : 300);
        QCOMPARE(control<QCheckBox>(window, "chkMinimizeToTray")->isChecked(), !goodValuesRead);
        QCOMPARE(control<QLineEdit>(window, "txtYellowThreshold")->text(),
                 goodValuesRead ? QStringLiteral("3") : QString());
        // Reading changed nothing on disk.
        QCOMPARE(picture(env.configDir()), before);

        // The user's changes apply for the session, stored or not.
        QCheckBox *minimize = control<QCheckBox>(window, "chkMinimizeToTray");
        minimize->setChecked(!minimize->isChecked());
        const bool minimizeNow = minimize->isChecked();
        control<QLineEdit>(window, "txtFrequency")->setText(QStringLiteral("500"));
        window.cmdUpdateFrequency_Click();
        control<QCheckBox>(window, "chkShowTrayIcon")->setChecked(false);
        control<QCheckBox>(window, "chkAutoAdjustThreshold")->setChecked(false);
        control<QLineEdit>(window, "txtRedThreshold")->setText(QStringLiteral("42"));
        for (int i = 0; i < 3; ++i)
            window.tmrAdapterUpdate_Timer();

        QCOMPARE(window.tmrAdapterUpdate->interval(), 500);
        QVERIFY(window.tmrAdapterUpdate->isActive());
        QVERIFY(!window.showTrayIcon);
        QVERIFY(!env.tray.shown);
        QCOMPARE(control<QLineEdit>(window, "txtRedThreshold")->text(), QStringLiteral("42"));
        QVERIFY(env.messages.shown.empty());

        if (!writable) {
            // Nothing could be stored, and nothing was left half done.
            QCOMPARE(picture(env.configDir()), before);
            return;
        }
        QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("MinimizeToTray")).toString(),
                 minimizeNow ? QStringLiteral("1") : QStringLiteral("0"));
        QCOMPARE(stored.value(QStringLiteral("UpdateFrequency")).toString(), QStringLiteral("500"));
        QCOMPARE(stored.value(QStringLiteral("ShowTrayIcon")).toString(), QStringLiteral("0"));
        QCOMPARE(stored.value(QStringLiteral("RedThreshold")).toString(), QStringLiteral("42"));
        if (goodValuesRead) // what was readable is still there
            QCOMPARE(stored.value(QStringLiteral("YellowThreshold")).toString(),
                     QStringLiteral("3"));
        // No lock or temporary file stays behind.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(file).fileName()});
    }
};

QTEST_MAIN(BrokenStoreTest)
#include "test_broken_store.moc"
