#include "platform/linux/XdgAutostart.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

class AutostartTest : public QObject {
    Q_OBJECT
private slots:
    // Folder names that break a carelessly written Exec line: blanks split the
    // argument, quotes end it, $ and ` make a shell expand, a backslash
    // escapes, % starts a field code. The program's path is quoted; inside
    // the quotes " ` $ \ take a backslash and % is doubled; then the key
    // file escapes backslashes and control characters.
    void execLineStartsExactlyThatFile_data() {
        const auto r = table<QString, QString>({"folder", "quoted"});
        r("blanks", "my  programs", "my  programs");
        r("double quote", "say \"hi\"", "say \\\\\"hi\\\\\"");
        r("backslash", "back\\slash\\", "back\\\\\\\\slash\\\\\\\\");
        r("dollar", "$HOME and ${PATH}", "\\\\$HOME and \\\\${PATH}");
        r("backtick", "`id` $(id)", "\\\\`id\\\\` \\\\$(id)");
        r("shell specials", ";&|<>*?#()~", ";&|<>*?#()~");
        r("tab", "tab\there", "tab\\there");
        r("newline", "two\nlines", "two\\nlines");
        r("all at once", "a b\"c$d`e\\f'g", "a b\\\\\"c\\\\$d\\\\`e\\\\\\\\f'g");
        r("percent", "100% sure %f %%", "100%% sure %%f %%%%");
    }
    void execLineStartsExactlyThatFile() {
        QFETCH(QString, folder);
        QFETCH(QString, quoted);
        const QByteArray entry =
            XdgAutostart::entryText(QStringLiteral("/opt/") + folder + QStringLiteral("/x"));
        QVERIFY2(entry.contains("\nExec=\"/opt/" + quoted.toUtf8() + "/x\" -startup\n"),
                 entry.constData());

        // Run the way a desktop runs it, by GLib's launcher, which rejects
        // any % in the program's path itself.
        QTemporaryDir dir;
        const QString program = dir.path() + u'/' + folder + QStringLiteral("/zarn-bandwidth");
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (libglib2.0-bin) is not installed: no desktop launcher to run the entry");
        if (folder.contains(u'%'))
            return;
        QVERIFY(QDir().mkpath(dir.path() + u'/' + folder));
        const QByteArray output = (dir.path() + QStringLiteral("/argv")).toUtf8();
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
        // program, -startup, and the empty rest after the last NUL
        QCOMPARE(fileBytes(QString::fromUtf8(output)).split('\0'),
                 QList<QByteArray>({program.toUtf8(), "-startup", ""}));
    }

    void entryKeys() {
        const QByteArray entry = XdgAutostart::entryText(QStringLiteral("/usr/bin/zarn-bandwidth"));
        QVERIFY(entry.startsWith("[Desktop Entry]\n"));
        const QList<QByteArray> lines = entry.split('\n');
        for (const char *key : {"Type=Application", "Name=Zarn Bandwidth", "Terminal=false",
                                "X-GNOME-Autostart-enabled=true"})
            QVERIFY2(lines.contains(QByteArray(key)), key);
    }

    void enableDisableExists() {
        TestPlatform env;
        XdgAutostart autostart;
        const QString folder = env.configDir() + QStringLiteral("/autostart");
        QCOMPARE(autostart.entryPath(), folder + QStringLiteral("/ZarnBandwidth.desktop"));
        QVERIFY(!autostart.exists());
        autostart.disable(); // nothing there: nothing happens
        QVERIFY(!QFile::exists(folder));

        autostart.enable(QStringLiteral("/opt/a/zarn-bandwidth")); // creates the folder
        QVERIFY(autostart.exists());
        autostart.enable(QStringLiteral("/opt/b/zarn-bandwidth")); // replaces the entry
        QCOMPARE(fileBytes(autostart.entryPath()),
                 XdgAutostart::entryText(QStringLiteral("/opt/b/zarn-bandwidth")));
        // Written through a temporary file that is renamed: nothing else stays.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("ZarnBandwidth.desktop")});
        autostart.disable();
        QVERIFY(!autostart.exists());
    }

    void defaultFolder_data() {
        const auto r = table<QByteArray, QString>({"xdg", "expected"});
        const QString home = QDir::homePath() + QStringLiteral("/.config/autostart");
        r("set", "/somewhere/config", "/somewhere/config/autostart");
        r("unset", QByteArray(), home);
        r("relative is ignored", "relative/config", home);
    }
    void defaultFolder() {
        QFETCH(QByteArray, xdg);
        TestPlatform env; // restores XDG_CONFIG_HOME afterwards
        if (xdg.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", xdg);
        // Only the path is looked at: nothing is written outside the test folder.
        QTEST(XdgAutostart().folder(), "expected");
    }

    void unwritableFolderNeverCrashes() {
        QTemporaryDir dir;
        // A regular file in the way of the folder defeats every writer, root
        // included.
        const QString blocker = dir.path() + QStringLiteral("/file");
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        XdgAutostart autostart(blocker + QStringLiteral("/autostart"));
        autostart.enable(QStringLiteral("/usr/bin/zarn-bandwidth"));
        QVERIFY(!autostart.exists());
        autostart.disable();
        QVERIFY(QFileInfo(blocker).isFile());
    }
};

QTEST_GUILESS_MAIN(AutostartTest)
#include "test_autostart.moc"
