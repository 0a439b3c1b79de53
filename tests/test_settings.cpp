#include "platform/linux/XdgAutostart.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>

// The settings store, a file the user and other programs may edit or damage,
// and the main window's start-up and shutdown over it. Reading never writes:
// the stored bytes stay until the user changes that very option. The Linux
// autostart entry: its Exec line, run as a desktop runs it, and the folder as
// other programs and accidents leave it, worked through the window.
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

// What start-up left, in one line: interval, frequency box, window, the
// option boxes' states, the adapter, the threshold boxes ("+": editable) and
// the tray icon ("idle" picture, "-": not shown).
QString summary(Rig &r) {
    QString boxes;
    for (const char *name : {"chkShowTrayIcon", "chkAnimateTrayIcon", "chkShowBandwidth",
                             "chkMinimizeToTray", "chkStartupMinimized", "chkAutoAdjustThreshold"})
        boxes += QString::number(r.box(name)->checkState());
    const bool idle = r.env.tray.shown && r.w.trayIcon.trayRecord().picture == TrayPicture::idle();
    const char *window = r.w.isHidden() ? "hidden" : r.w.isMinimized() ? "minimised" : "normal";
    return QStringLiteral("%1 '%2' %3 %4 %5 '%6/%7'%8 %9")
        .arg(r.w.monitor->tmrAdapterUpdate->interval())
        .arg(r.edit("txtFrequency")->text(), window, boxes)
        .arg(r.w.monitor->selectedAdapter)
        .arg(r.edit("txtYellowThreshold")->text(), r.edit("txtRedThreshold")->text(),
             r.enabled("txtYellowThreshold") ? "+" : "", idle ? "idle" : "-");
}

// Every file below the folder, with its contents: a store left exactly as
// it was has the same picture before and after.
QMap<QString, QByteArray> picture(const QString &folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, QFileInfo(path).isDir() ? QByteArray("<folder>") : fileBytes(path));
    }
    return files;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    // A line as a user or another program left it in the file ("": no
    // file), a text written (kAbsent: none), and what reads back.
    void readAndWrite_data() {
        const auto r = table<QByteArray, QString, QString>({"line", "written", "read"});
        r("empty is not absent", "", "", "");
        r("blanks kept", "", " 250 ", " 250 ");
        r("comma, leading at", "", "@ByteArray(x), b", "@ByteArray(x), b");
        r("newline and backslash", "", "two\nC:\\Tools\\", "two\nC:\\Tools\\");
        r("cut at NUL", "", QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"), "ab");
        r("quoted list text", "Value=\"a, b\"", kAbsent, "a, b");
        r("list", "Value=a, b", kAbsent, kAbsent);
        r("list written over", "Value=a, b", "c", "c");
        r("byte array", "Value=@ByteArray(abc)", kAbsent, kAbsent);
        r("NUL inside", "Value=ab\\0cd", kAbsent, "ab");
        r("group, not a value", "[Value]\nInner=1", kAbsent, kAbsent);
        r("only another key", "value=1", kAbsent, kAbsent);
    }
    void readAndWrite() {
        const QByteArray line = cell<QByteArray>("line");
        const QString written = cell<QString>("written"), value = QStringLiteral("Value");
        TestPlatform env;
        const QString file = env.settingsFilePath();
        if (!line.isEmpty())
            env.writeSettingsFile("[General]\nKeep=me\n" + line + "\n");
        const QByteArray before = fileBytes(file);
        QCOMPARE(stored(value), written == kAbsent ? cell<QString>("read") : kAbsent);
        QCOMPARE(fileBytes(file), before); // reads never write...
        QCOMPARE(QFileInfo::exists(QFileInfo(file).path()), !line.isEmpty()); // ...nor make folders
        store(value, written);
        QVERIFY(written == kAbsent || fileBytes(file).contains("\nValue=")); // on disk at once
        Registry::writeSetting(QStringLiteral("Other"), QStringLiteral("1"));
        QTEST(stored(value), "read"); // a write keeps the values it does not change
        QCOMPARE(stored(QStringLiteral("Keep")), line.isEmpty() ? kAbsent : QStringLiteral("me"));
    }

    // Start-up with an argument, lines in the file (none of them written
    // back) and a desktop with or without a tray. A value of no use in a
    // setting gives the reader's default; "-startup" is compared whole.
    void startUp_data() {
        const auto r = table<QString, QByteArray, bool, QString>(
            {"argument", "lines", "trayOnDesktop", "summary"});
        const QString normal = "300 '300' normal 222202 0 '/' idle";
        const QString hidden = "300 '300' hidden 222202 0 '/' idle";
        r("first run", "", "", true, normal);
        r("-startup", "-startup", "", true, hidden);
        r("tray icon 0", "-startup", "ShowTrayIcon=0", true, "300 '300' normal 022202 0 '/' -");
        r("no tray on the desktop", "-startup", "", false, "300 '300' minimised 222202 0 '/' idle");
        r("animation 0", "", "AnimateTrayIcon=0", true, "300 '300' normal 202202 0 '/' idle");
        r("capitals", "-STARTUP", "", true, normal);
        r("more text", "-startup x", "", true, normal);
        r("stored options", "",
          "ShowBandwidthInTray=0\nMinimizeToTray=0\nStartupMinimized=1\n"
          "UpdateFrequency=\" 250 \"\nYellowThreshold=12.5\nRedThreshold=x\n"
          "AutoAdjustThreshold=0\nAdapter=\" 3\"",
          true, "250 ' 250 ' minimised 220020 3 '12.5/x'+ idle");
        r("cut", "", "UpdateFrequency=700\nStartupMin", true, "700 '700' normal 222202 0 '/' idle");
        for (const char *line :
             {"UpdateFrequency=abc", "UpdateFrequency=1e400", "ShowTrayIcon=abc",
              "AnimateTrayIcon=7", "ShowBandwidthInTray=abc", "MinimizeToTray=1.5",
              "StartupMinimized=-1", "AutoAdjustThreshold=1e9", "Adapter=x", "Adapter=99999999999",
              "YellowThreshold=1, 2", "RedThreshold=@ByteArray(1)"})
            r(line, "-startup", line, true, hidden);
        r("250.5", "", "UpdateFrequency=250.5", true, "250 '250.5' normal 222202 0 '/' idle");
        r("greyed", "", "MinimizeToTray=2", true, "300 '300' normal 222102 0 '/' idle");
    }
    void startUp() {
        const QByteArray lines = cell<QByteArray>("lines");
        Rig r(cell<QString>("argument"));
        r.env.interfaces.add(2, QStringLiteral("eth0"));
        r.env.tray.available = cell<bool>("trayOnDesktop");
        if (!lines.isEmpty())
            r.env.writeSettingsFile("[General]\n" + lines + "\n");
        const QByteArray before = fileBytes(r.env.settingsFilePath());
        r.w.startUp();
        for (int i = 0; i < 3; ++i)
            r.w.monitor->tmrAdapterUpdate_Timer();
        QTEST(summary(r), "summary");
        QCOMPARE(r.get<QTabWidget>("Tabs")->currentIndex(), 2); // no adapter selected
        QCOMPARE(r.text("lblVersion"), QStringLiteral("Zarn Bandwidth Version 1.30")); // to its end
        QVERIFY(r.w.monitor->tmrAdapterUpdate->isActive() && r.env.messages.shown.empty() &&
                r.env.autostart.calls.isEmpty());
        QCOMPARE(fileBytes(r.env.settingsFilePath()), before);
    }

    // A store the program cannot use: it runs on its defaults, the options
    // the user changes apply for the session, and what cannot be written
    // leaves nothing behind, no lock or temporary file.
    void brokenStore_data() {
        const auto r = table<QString>({"damage"});
        r("folder is a file", "folder is a file");
        r("file is a folder", "file is a folder");
        r("random bytes", "random");
    }
    void brokenStore() {
        const QString damage = cell<QString>("damage");
        Rig r;
        const QString file = r.env.settingsFilePath(), folder = QFileInfo(file).path();
        if (damage == u"folder is a file") {
            QVERIFY(writeFile(folder, QByteArray()));
        } else if (damage == u"file is a folder") {
            QVERIFY(QDir().mkpath(file));
        } else {
            QByteArray bytes(65536, Qt::Uninitialized);
            QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), 65536 / 4);
            r.env.writeSettingsFile(bytes);
        }
        const auto before = picture(r.env.configDir());
        r.w.startUp();
        r.w.monitor->tmrAdapterUpdate_Timer();
        QVERIFY(r.w.monitor->tmrAdapterUpdate->interval() == 300 &&
                r.box("chkMinimizeToTray")->isChecked());
        QCOMPARE(picture(r.env.configDir()), before);

        r.box("chkMinimizeToTray")->setChecked(false);
        r.edit("txtFrequency")->setText(QStringLiteral("500"));
        r.w.cmdUpdateFrequency_Click();
        r.box("chkShowTrayIcon")->setChecked(false);
        r.w.monitor->tmrAdapterUpdate_Timer();
        QCOMPARE(r.w.monitor->tmrAdapterUpdate->interval(), 500);
        QVERIFY(!r.w.showTrayIcon && !r.env.tray.shown && r.env.messages.shown.empty());
        if (damage != u"random")
            QCOMPARE(picture(r.env.configDir()), before);
        else
            QCOMPARE(stored("MinimizeToTray") + stored("UpdateFrequency") + stored("ShowTrayIcon"),
                     "05000");
        QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).size() <= 1); // no lock left
    }

    // The close box deletes the icon and the mini window, ends the program
    // and writes nothing.
    void closeBox() {
        Rig r;
        r.w.startUp();
        r.w.monitor->tmrAdapterUpdate->stop();
        QPointer<frmMiniBandwidth> mini = r.w.miniWindow(true);
        mini->show();
        QTimer::singleShot(0, &r.w, &QWidget::close);
        // A loop that the close fails to end fails the test instead of hanging it.
        QTimer::singleShot(5000, &r.w, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(!r.w.isVisible() && r.w.unloaded && mini.isNull() && !r.w.miniWindow(false));
        QCOMPARE(requestLog(r.env.tray), QStringLiteral("show:Zarn Bandwidth remove"));
        QVERIFY(!QFile::exists(r.env.settingsFilePath()));
    }

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

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"
