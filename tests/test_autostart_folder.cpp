#include "platform/linux/XdgAutostart.h"
#include "support/Fakes.h"
#include "support/Immutable.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

// The autostart folder as other programs and accidents leave it, worked
// through the window: start-up probes the entry, the user ticks and clears
// the box. A file of the entry's name counts as the entry, whoever wrote it:
// probing finds it, ticking replaces it with ours, clearing removes it. A
// folder of that name is no entry, and a link is replaced or removed itself,
// never what it points at.
namespace {

const QString kProgram = QStringLiteral("/opt/zarn/bin/zarn-bandwidth");
const QByteArray kForeign = "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n";

enum class Folder {
    Missing,
    Empty,
    Ours,
    Foreign,
    Junk,
    ForeignReadOnly,
    EntryIsAFolder,
    LinkToForeign,
    DanglingLink,
    FrozenEmpty,
    FrozenForeign,
    FolderIsAFile,
};

// What is at the entry's path.
QString describe(const QString &path) {
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("link");
    if (info.isDir())
        return QStringLiteral("folder");
    if (!info.exists())
        return QStringLiteral("none");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unreadable");
    const QByteArray bytes = f.readAll();
    if (bytes == XdgAutostart::entryText(kProgram))
        return QStringLiteral("ours");
    if (bytes == kForeign)
        return QStringLiteral("foreign");
    return QStringLiteral("other");
}

} // namespace

class AutostartFolderTest : public QObject {
    Q_OBJECT
private slots:
    void folderStates_data() {
        QTest::addColumn<int>("folder");
        QTest::addColumn<bool>("probed"); // box ticked by start-up
        QTest::addColumn<QString>("afterStart");
        QTest::addColumn<QString>("afterTick");
        QTest::addColumn<QString>("afterClear");
        const auto row = [](const char *name, Folder f) -> QTestData & {
            return QTest::newRow(name) << int(f);
        };
        row("missing", Folder::Missing) << false << "none"
                                        << "ours"
                                        << "none";
        row("empty", Folder::Empty) << false << "none"
                                    << "ours"
                                    << "none";
        row("ours", Folder::Ours) << true << "ours"
                                  << "ours"
                                  << "none";
        // Start-up finds an entry and ticks the box, whose handler writes
        // ours: the foreign one is replaced at once.
        row("foreign", Folder::Foreign) << true << "ours"
                                        << "ours"
                                        << "none";
        row("junk", Folder::Junk) << true << "ours"
                                  << "ours"
                                  << "none";
        row("foreign read-only", Folder::ForeignReadOnly) << true << "ours"
                                                          << "ours"
                                                          << "none";
        row("folder of that name", Folder::EntryIsAFolder) << false << "folder"
                                                           << "folder"
                                                           << "folder";
        row("link to a foreign file", Folder::LinkToForeign) << true << "ours"
                                                             << "ours"
                                                             << "none";
        row("dangling link", Folder::DanglingLink) << false << "link"
                                                   << "ours"
                                                   << "none";
        row("unwritable, empty", Folder::FrozenEmpty) << false << "none"
                                                      << "none"
                                                      << "none";
        row("unwritable, foreign", Folder::FrozenForeign) << true << "foreign"
                                                          << "foreign"
                                                          << "foreign";
        row("a file in the folder's place", Folder::FolderIsAFile) << false << "none"
                                                                   << "none"
                                                                   << "none";
    }

    void folderStates() {
        QFETCH(int, folder);
        QFETCH(bool, probed);
        QFETCH(QString, afterStart);
        QFETCH(QString, afterTick);
        QFETCH(QString, afterClear);

        TestPlatform env;
        QTemporaryDir elsewhere; // another program's files
        const QString foreignTarget = elsewhere.path() + QStringLiteral("/other.desktop");
        {
            QFile f(foreignTarget);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kForeign);
        }
        const QString dir = env.configDir() + QStringLiteral("/autostart");
        XdgAutostart autostart(dir);
        const QString entry = autostart.entryPath();
        const auto write = [&](const QByteArray &bytes) {
            QDir().mkpath(dir);
            QFile f(entry);
            return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
        };
        std::unique_ptr<Immutable> frozen;
        switch (Folder(folder)) {
        case Folder::Missing:
            break;
        case Folder::Empty:
            QVERIFY(QDir().mkpath(dir));
            break;
        case Folder::Ours:
            QVERIFY(write(XdgAutostart::entryText(kProgram)));
            break;
        case Folder::Foreign:
            QVERIFY(write(kForeign));
            break;
        case Folder::Junk:
            QVERIFY(write(QByteArray("\x00\xff\x01[Desktop", 11)));
            break;
        case Folder::ForeignReadOnly:
            QVERIFY(write(kForeign));
            QVERIFY(QFile::setPermissions(entry, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
            break;
        case Folder::EntryIsAFolder:
            QVERIFY(QDir().mkpath(entry));
            break;
        case Folder::LinkToForeign:
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(QFile::link(foreignTarget, entry));
            break;
        case Folder::DanglingLink:
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(QFile::link(elsewhere.path() + QStringLiteral("/gone.desktop"), entry));
            break;
        case Folder::FrozenEmpty:
            QVERIFY(QDir().mkpath(dir));
            frozen = std::make_unique<Immutable>(dir);
            break;
        case Folder::FrozenForeign:
            QVERIFY(write(kForeign));
            frozen = std::make_unique<Immutable>(dir);
            break;
        case Folder::FolderIsAFile: {
            QFile blocker(dir);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            break;
        }
        }
        if (frozen && !frozen->works())
            QSKIP("cannot make the folder unwritable here");

        Platform platform = env.platform();
        platform.autostart = &autostart;
        platform.programPath = kProgram;
        frmMain window(platform);
        window.startUp();
        QCheckBox *box = window.findChild<QCheckBox *>(QStringLiteral("chkStartWithWin"));
        QVERIFY(box);
        QCOMPARE(box->isChecked(), probed);
        QCOMPARE(describe(entry), afterStart);

        // The user ticks the box (clearing it first when start-up ticked it,
        // so that the tick is a real change), then clears it.
        if (box->isChecked())
            box->setChecked(false);
        box->setChecked(true);
        QCOMPARE(describe(entry), afterTick);
        box->setChecked(false);
        QCOMPARE(describe(entry), afterClear);
        QVERIFY(!box->isChecked());

        // The file another program owns is never touched, and no temporary
        // file is left in the folder.
        QCOMPARE(describe(foreignTarget), QStringLiteral("foreign"));
        if (QFileInfo(dir).isDir()) {
            const QStringList left =
                QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
            QVERIFY2(left.size() <= 1, qPrintable(left.join(u' ')));
        }
        QCOMPARE(control(window)->text(), QStringLiteral("Zarn Bandwidth Version 1.20"));
    }

private:
    static QLabel *control(frmMain &window) {
        return window.findChild<QLabel *>(QStringLiteral("lblVersion"));
    }
};

QTEST_MAIN(AutostartFolderTest)
#include "test_autostart_folder.moc"
