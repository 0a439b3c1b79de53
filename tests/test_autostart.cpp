#include "platform/linux/XdgAutostart.h"
#include "support/Harness.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

// The Linux autostart entry: its Exec line, run as a desktop runs it, and the
// folder as other programs and accidents leave it, worked through the window.
namespace {

const QString kProgram = QStringLiteral("/opt/zarn/bin/zarn-bandwidth");
const QByteArray kForeign = "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n";

QString describe(const QString &path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isDir() || !info.exists())
        return info.isSymLink() ? "link" : info.isDir() ? "folder" : "none";
    const QMap<QByteArray, QString> known{{XdgAutostart::entryText(kProgram), "ours"},
                                          {kForeign, "foreign"}};
    return known.value(fileBytes(path), "other");
}

} // namespace

class AutostartTest : public QObject {
    Q_OBJECT
private slots:
    // Names that break a carelessly written Exec line: the path is quoted,
    // " ` $ \ take a backslash and % is doubled inside the quotes, then the
    // key file escapes backslashes and control characters.
    void execLineStartsExactlyThatFile_data() {
        const auto r = table<QString, QString>({"name", "quoted"});
        r("blanks", "my  programs", "my  programs");
        r("quote, dollar, backtick", "say \"hi\" $HOME `id`",
          "say \\\\\"hi\\\\\" \\\\$HOME \\\\`id\\\\`");
        r("backslash", "back\\slash\\", "back\\\\\\\\slash\\\\\\\\");
        r("newline", "two\nlines", "two\\nlines");
        r("percent", "100% sure %f", "100%% sure %%f");
    }
    void execLineStartsExactlyThatFile() {
        const QString name = cell<QString>("name");
        const QByteArray entry = XdgAutostart::entryText("/opt/" + name);
        const QByteArray exec = "Exec=\"/opt/" + cell<QString>("quoted").toUtf8() + "\" -startup\n";
        QVERIFY2(entry.contains('\n' + exec), entry.constData());
        // Run by GLib's launcher, which rejects any % in the program's path itself.
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (libglib2.0-bin) is not installed: no desktop launcher to run the entry");
        if (name.contains(u'%'))
            return;
        QTemporaryDir dir;
        const QString program = dir.path() + u'/' + name, out = dir.path() + "/argv";
        QVERIFY(writeFile(program,
                          "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" + out.toUtf8() + "'\n"));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
        XdgAutostart autostart(dir.path() + QStringLiteral("/autostart"));
        autostart.enable(program);
        QCOMPARE(QProcess::execute(gio, {QStringLiteral("launch"), autostart.entryPath()}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(fileBytes(out).split('\0'),
                                  QList<QByteArray>({program.toUtf8(), "-startup", ""}), 10000);
    }

    // The entry's path by XDG_CONFIG_HOME; an empty or relative one is ignored.
    void defaultEntryPath() {
        TestPlatform env; // restores XDG_CONFIG_HOME afterwards
        const QString home = QDir::homePath() + QStringLiteral("/.config");
        const std::pair<const char *, QString> cases[] = {
            {"/some/config", "/some/config"}, {"", home}, {"relative/config", home}};
        for (const auto &[xdg, base] : cases) {
            qputenv("XDG_CONFIG_HOME", xdg);
            QCOMPARE(XdgAutostart().entryPath(), base + "/autostart/ZarnBandwidth.desktop");
        }
    }

    // The folder ($D) as a shell left it ($E: the entry, $F: another program's
    // file); the entry after start-up, a tick and a clear of the box. A file of
    // the entry's name is the entry: start-up ticks the box, which writes ours.
    void folderStates_data() {
        const auto r = table<QString, QString>({"setup", "after"});
        r("missing", "", "none ours none");
        r("foreign", "mkdir $D && cp $F $E", "ours ours none");
        r("foreign read-only", "mkdir $D && cp $F $E && chmod 400 $E", "ours ours none");
        r("folder of that name", "mkdir -p $E", "folder folder folder");
        r("link to a foreign file", "mkdir $D && ln -s $F $E", "ours ours none");
        r("dangling link", "mkdir $D && ln -s $F.gone $E", "link ours none");
        r("a file in the folder's place", "touch $D", "none none none");
    }
    void folderStates() {
        TestPlatform env;
        const QString foreign = env.configDir() + QStringLiteral("/other.desktop");
        QVERIFY(writeFile(foreign, kForeign));
        XdgAutostart autostart(env.configDir() + QStringLiteral("/autostart"));
        const QString entry = autostart.entryPath();
        QString setup = cell<QString>("setup");
        setup.replace("$D", autostart.folder()).replace("$E", entry).replace("$F", foreign);
        QCOMPARE(QProcess::execute("/bin/sh", {"-c", setup}), 0);
        Platform platform = env.platform();
        platform.autostart = &autostart;
        frmMain window(platform);
        window.startUp();
        QCheckBox *box = window.findChild<QCheckBox *>(QStringLiteral("chkStartWithWin"));
        QCOMPARE(box->isChecked(), describe(entry) == "ours");
        QString after = describe(entry);
        box->setChecked(false); // a real change of the box when start-up ticked it
        for (bool tick : {true, false}) {
            box->setChecked(tick);
            after += u' ' + describe(entry);
        }
        QTEST(after, "after");
        // A link goes, never its target; no temporary file is left behind.
        QCOMPARE(describe(foreign), QStringLiteral("foreign"));
        QVERIFY(QDir(autostart.folder()).entryList(QDir::Files | QDir::Hidden).size() <= 1);
    }
};

QTEST_MAIN(AutostartTest)
#include "test_autostart.moc"
