#include "platform/linux/XdgAutostart.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// The reading side of an Exec value, written from the freedesktop rules
// independently of the writer: string escapes first, then the quoting of the
// command line, then the %% field code. nullopt for anything malformed.
std::optional<QStringList> parseExec(const QString &value) {
    const QString escapes = QStringLiteral("sntr\\"), meaning = QStringLiteral(" \n\t\r\\");
    QString line;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const qsizetype k = value[i] != u'\\'    ? -2
                            : ++i < value.size() ? escapes.indexOf(value[i])
                                                 : -1;
        if (k == -1)
            return std::nullopt;
        line += k == -2 ? value[i] : meaning[k];
    }
    QStringList args;
    QString current;
    bool inArgument = false, inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inQuotes && c == u'\\') {
            if (i + 1 == line.size() || !QStringLiteral("\"`$\\").contains(line[i + 1]))
                return std::nullopt;
            current += line[++i];
        } else if (inQuotes && c == u'"') {
            inQuotes = false;
        } else if (c == u'`' || c == u'$' ||
                   (!inQuotes && QStringLiteral("\t\n'\\><~|&;*?#()").contains(c))) {
            return std::nullopt; // reserved, and ` and $ even inside quotes
        } else if (!inQuotes && c == u' ') {
            if (inArgument)
                args << current;
            current.clear();
            inArgument = false;
        } else if (!inQuotes && c == u'"') {
            inQuotes = inArgument = true;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inQuotes)
        return std::nullopt;
    if (inArgument)
        args << current;
    for (QString &arg : args) {
        if (QString(arg).remove(QStringLiteral("%%")).contains(u'%'))
            return std::nullopt; // a field code we never write
        arg.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return args;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class AutostartTest : public QObject {
    Q_OBJECT
private slots:
    // Folder names that break a carelessly written Exec line: blanks split the
    // argument, quotes end it, $ and ` make a shell expand, a backslash
    // escapes, % starts a field code.
    void execLineStartsExactlyThatFile_data() {
        columns<QString>({"folder"});
        for (const char *folder :
             {"my  programs", "say \"hi\"", "back\\slash\\", "$HOME and ${PATH}", "`id` $(id)",
              ";&|<>*?#()~", "tab\there", "two\nlines", "a b\"c$d`e\\f'g", "100% sure %f %%"})
            row(folder, folder);
    }
    void execLineStartsExactlyThatFile() {
        QFETCH(QString, folder);
        QTemporaryDir dir;
        const QString program = dir.path() + u'/' + folder + QStringLiteral("/zarn-bandwidth");
        const QByteArray entry = XdgAutostart::entryText(program);
        QString exec;
        for (const QByteArray &line : entry.split('\n'))
            if (line.startsWith("Exec="))
                exec = QString::fromUtf8(line.mid(5));
        const auto args = parseExec(exec);
        QVERIFY2(args.has_value(), entry.constData());
        QCOMPARE(*args, QStringList({program, QStringLiteral("-startup")}));

        // Run the way a desktop runs it, by GLib's launcher, which rejects
        // any % in the program's path itself.
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
