#include "platform/linux/XdgAutostart.h"
#include "support/Harness.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

// The Linux autostart entry: its Exec line, run the way a desktop runs it,
// and the autostart folder as other programs and accidents leave it, worked
// through the window. A file of the entry's name counts as the entry,
// whoever wrote it: probing finds it, ticking replaces it with ours,
// clearing removes it. A folder of that name is no entry, and a link is
// replaced or removed itself, never what it points at.
namespace {

const QString kProgram = QStringLiteral("/opt/zarn/bin/zarn-bandwidth");
const QByteArray kForeign = "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n";

// What is at the entry's path.
QString describe(const QString &path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isDir() || !info.exists())
        return info.isSymLink() ? "link" : info.isDir() ? "folder" : "none";
    const QByteArray bytes = fileBytes(path);
    return bytes == XdgAutostart::entryText(kProgram) ? "ours"
           : bytes == kForeign                        ? "foreign"
                                                      : "other";
}

} // namespace

class AutostartTest : public QObject {
    Q_OBJECT
private slots:
    // Folder names that break a carelessly written Exec line. The program's
    // path is quoted; inside the quotes " ` $ \ take a backslash and % is
    // doubled; then the key file escapes backslashes and control characters.
    void execLineStartsExactlyThatFile_data() {
        const auto r = table<QString, QString>({"folder", "quoted"});
        r("blanks", "my  programs", "my  programs");
        r("quote, dollar, backtick", "say \"hi\" $HOME `id`",
          "say \\\\\"hi\\\\\" \\\\$HOME \\\\`id\\\\`");
        r("backslash", "back\\slash\\", "back\\\\\\\\slash\\\\\\\\");
        r("newline", "two\nlines", "two\\nlines");
        r("percent", "100% sure %f", "100%% sure %%f");
    }
    void execLineStartsExactlyThatFile() {
        const QString folder = cell<QString>("folder");
        const QByteArray entry = XdgAutostart::entryText("/opt/" + folder + "/x");
        QVERIFY2(
            entry.contains("\nExec=\"/opt/" + cell<QString>("quoted").toUtf8() + "/x\" -startup\n"),
            entry.constData());
        // Run by GLib's launcher, which rejects any % in the program's path itself.
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (libglib2.0-bin) is not installed: no desktop launcher to run the entry");
        if (folder.contains(u'%'))
            return;
        QTemporaryDir dir;
        const QString program = dir.path() + u'/' + folder + QStringLiteral("/zarn-bandwidth");
        const QByteArray output = (dir.path() + QStringLiteral("/argv")).toUtf8();
        QVERIFY(QDir().mkpath(dir.path() + u'/' + folder));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" + output + ".tmp' && mv '" +
                     output + ".tmp' '" + output + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        XdgAutostart autostart(dir.path() + QStringLiteral("/autostart"));
        autostart.enable(program);
        QProcess launcher;
        launcher.start(gio, {QStringLiteral("launch"), autostart.entryPath()});
        QVERIFY(launcher.waitForFinished(10000));
        QVERIFY2(launcher.exitCode() == 0, launcher.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromUtf8(output)), 10000);
        QCOMPARE(fileBytes(QString::fromUtf8(output)).split('\0'),
                 QList<QByteArray>({program.toUtf8(), "-startup", ""}));
    }

    void defaultFolder_data() {
        const auto r = table<QByteArray, QString>({"xdg", "expected"});
        r("set", "/somewhere/config", "/somewhere/config/autostart");
        r("unset", "", QDir::homePath() + QStringLiteral("/.config/autostart"));
        r("relative is ignored", "relative/config",
          QDir::homePath() + QStringLiteral("/.config/autostart"));
    }
    void defaultFolder() {
        TestPlatform env; // restores XDG_CONFIG_HOME afterwards
        if (cell<QByteArray>("xdg").isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", cell<QByteArray>("xdg"));
        QTEST(XdgAutostart().folder(), "expected");
    }

    // The entry as start-up finds it, after the user ticks the box and
    // after the user clears it.
    void folderStates_data() {
        const auto r = table<QString, QString, QString, QString>(
            {"folder", "afterStart", "afterTick", "afterClear"});
        r("missing", "missing", "none", "ours", "none");
        r("ours", "ours", "ours", "ours", "none");
        // Start-up finds an entry and ticks the box, whose handler writes
        // ours: the foreign one is replaced at once.
        r("foreign", "foreign", "ours", "ours", "none");
        r("foreign read-only", "read-only", "ours", "ours", "none");
        r("folder of that name", "entry folder", "folder", "folder", "folder");
        r("link to a foreign file", "link", "ours", "ours", "none");
        r("dangling link", "dangling", "link", "ours", "none");
        r("a file in the folder's place", "folder file", "none", "none", "none");
    }
    void folderStates() {
        const QString setup = cell<QString>("folder");
        Rig r;
        QTemporaryDir elsewhere; // another program's files
        const QString foreign = elsewhere.path() + QStringLiteral("/other.desktop");
        QFile f(foreign);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(kForeign) == kForeign.size());
        f.close();
        const QString dir = r.env.configDir() + QStringLiteral("/autostart");
        XdgAutostart autostart(dir);
        const QString entry = autostart.entryPath();
        if (setup != u"missing" && setup != u"folder file")
            QVERIFY(QDir().mkpath(setup == u"entry folder" ? entry : dir));
        if (setup == u"foreign" || setup == u"read-only")
            QVERIFY(QFile::copy(foreign, entry));
        if (setup == u"ours")
            autostart.enable(kProgram);
        if (setup == u"read-only")
            QVERIFY(QFile::setPermissions(entry, QFileDevice::ReadOwner));
        if (setup == u"link" || setup == u"dangling")
            QVERIFY(QFile::link(setup == u"link" ? foreign : elsewhere.path() + "/gone", entry));
        if (setup == u"folder file") {
            QFile blocker(dir);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        Platform platform = r.env.platform();
        platform.autostart = &autostart;
        frmMain window(platform);
        window.startUp();
        QCheckBox *box = window.findChild<QCheckBox *>(QStringLiteral("chkStartWithWin"));
        QCOMPARE(box->isChecked(), describe(entry) == "ours");
        QTEST(describe(entry), "afterStart");
        box->setChecked(false); // a real change of the box when start-up ticked it
        box->setChecked(true);
        QTEST(describe(entry), "afterTick");
        box->setChecked(false);
        QTEST(describe(entry), "afterClear");
        // The file another program owns is never touched, and no temporary
        // file is left in the folder.
        QCOMPARE(describe(foreign), QStringLiteral("foreign"));
        if (QFileInfo(dir).isDir())
            QVERIFY(QDir(dir)
                        .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                        .size() <= 1);
    }

    void enableReplacesThroughATemporaryFile() {
        TestPlatform env;
        XdgAutostart autostart;
        const QString folder = env.configDir() + QStringLiteral("/autostart");
        QCOMPARE(autostart.entryPath(), folder + QStringLiteral("/ZarnBandwidth.desktop"));
        autostart.disable(); // nothing there: nothing happens
        QVERIFY(!QFile::exists(folder));
        autostart.enable(QStringLiteral("/opt/a/zarn-bandwidth")); // creates the folder
        autostart.enable(QStringLiteral("/opt/b/zarn-bandwidth")); // replaces the entry
        QCOMPARE(fileBytes(autostart.entryPath()),
                 XdgAutostart::entryText("/opt/b/zarn-bandwidth"));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("ZarnBandwidth.desktop")});
    }
};

QTEST_MAIN(AutostartTest)
#include "test_autostart.moc"
