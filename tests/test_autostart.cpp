#include "platform/linux/XdgAutostart.h"
#include "support/Fakes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Folder names that break a carelessly written Exec line: blanks split the
// argument, quotes end it, $ and ` make a shell expand, a backslash escapes,
// % starts a field code.
void addHostileFolders() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("blanks") << "my  programs";
    QTest::newRow("double quote") << "say \"hi\"";
    QTest::newRow("backslash") << "back\\slash\\";
    QTest::newRow("dollar") << "$HOME and ${PATH}";
    QTest::newRow("backtick") << "`id` $(id)";
    QTest::newRow("shell specials") << ";&|<>*?#()~";
    QTest::newRow("tab") << "tab\there";
    QTest::newRow("newline") << "two\nlines";
    QTest::newRow("all at once") << "a b\"c$d`e\\f'g";
}

QString execValue(const QByteArray &entry) {
    for (const QByteArray &line : entry.split('\n'))
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    return QString();
}

// The reading side of an Exec line, written from the freedesktop rules
// independently of the writer: string escapes first, then the quoting of the
// command line, then the %% field code. nullopt for anything malformed.
std::optional<QStringList> parseExec(const QString &value) {
    QString line;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            line += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        switch (value[i].unicode()) {
        case u's':
            line += u' ';
            break;
        case u'n':
            line += u'\n';
            break;
        case u't':
            line += u'\t';
            break;
        case u'r':
            line += u'\r';
            break;
        case u'\\':
            line += u'\\';
            break;
        default:
            return std::nullopt;
        }
    }

    QStringList args;
    QString current;
    bool inArgument = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inQuotes) {
            if (c == u'\\') {
                if (i + 1 == line.size() || !QStringLiteral("\"`$\\").contains(line[i + 1]))
                    return std::nullopt;
                current += line[++i];
            } else if (c == u'"') {
                inQuotes = false;
            } else if (c == u'`' || c == u'$') {
                return std::nullopt; // must be escaped even inside quotes
            } else {
                current += c;
            }
        } else if (c == u' ') {
            if (inArgument)
                args << current;
            current.clear();
            inArgument = false;
        } else if (c == u'"') {
            inQuotes = inArgument = true;
        } else if (QStringLiteral("\t\n'\\><~|&;$*?#()`").contains(c)) {
            return std::nullopt; // reserved outside quotes
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
        QString expanded;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != u'%') {
                expanded += arg[i];
            } else if (i + 1 < arg.size() && arg[i + 1] == u'%') {
                expanded += u'%';
                ++i;
            } else {
                return std::nullopt; // a field code we never write
            }
        }
        arg = expanded;
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
    void execLineStartsExactlyThatFile_data() {
        addHostileFolders();
        QTest::newRow("percent") << "100% sure %f %%";
    }
    void execLineStartsExactlyThatFile() {
        QFETCH(QString, folder);
        const QString program =
            QStringLiteral("/opt/") + folder + QStringLiteral("/zarn-bandwidth");
        const QByteArray entry = XdgAutostart::entryText(program);
        const auto args = parseExec(execValue(entry));
        QVERIFY2(args.has_value(), entry.constData());
        QCOMPARE(*args, QStringList({program, QStringLiteral("-startup")}));
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
        const QString expected =
            env.configDir() + QStringLiteral("/autostart/ZarnBandwidth.desktop");
        QCOMPARE(autostart.entryPath(), expected);
        QVERIFY(!autostart.exists());
        autostart.disable(); // nothing there: nothing happens
        QVERIFY(!QFile::exists(env.configDir() + QStringLiteral("/autostart")));

        autostart.enable(QStringLiteral("/opt/a/zarn-bandwidth")); // creates the folder
        QVERIFY(autostart.exists());
        autostart.enable(QStringLiteral("/opt/b/zarn-bandwidth")); // replaces the entry
        QCOMPARE(fileBytes(expected),
                 XdgAutostart::entryText(QStringLiteral("/opt/b/zarn-bandwidth")));
        // Written through a temporary file that is renamed: nothing else stays.
        QCOMPARE(QDir(env.configDir() + QStringLiteral("/autostart"))
                     .entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("ZarnBandwidth.desktop")});

        autostart.disable();
        QVERIFY(!autostart.exists());
        QVERIFY(!QFile::exists(expected));
    }

    void defaultFolder_data() {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("expected");
        const QString home = QDir::homePath() + QStringLiteral("/.config/autostart");
        QTest::newRow("set") << QByteArray("/somewhere/config") << "/somewhere/config/autostart";
        QTest::newRow("unset") << QByteArray() << home;
        QTest::newRow("relative is ignored") << QByteArray("relative/config") << home;
    }
    void defaultFolder() {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, expected);
        TestPlatform env; // restores XDG_CONFIG_HOME afterwards
        if (xdg.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", xdg);
        // Only the path is looked at: nothing is written outside the test folder.
        QCOMPARE(XdgAutostart().folder(), expected);
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

    // The entry run the way a desktop runs it, by GLib's launcher, which
    // rejects any %% in the program's path itself: no percent rows here.
    void realLauncherStartsThatFile_data() { addHostileFolders(); }
    void realLauncherStartsThatFile() {
        QFETCH(QString, folder);
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (libglib2.0-bin) is not installed: no desktop launcher to run the entry");
        QTemporaryDir dir;
        const QString programDir = dir.path() + QLatin1Char('/') + folder;
        QVERIFY(QDir().mkpath(programDir));
        const QString program = programDir + QStringLiteral("/zarn-bandwidth");
        const QString output = dir.path() + QStringLiteral("/argv");
        {
            QFile script(program);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" + output.toUtf8() +
                         ".tmp' && mv '" + output.toUtf8() + ".tmp' '" + output.toUtf8() + "'\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        XdgAutostart autostart(dir.path() + QStringLiteral("/autostart"));
        autostart.enable(program);

        QProcess launcher;
        launcher.start(gio, {QStringLiteral("launch"), autostart.entryPath()});
        QVERIFY(launcher.waitForFinished(10000));
        QVERIFY2(launcher.exitCode() == 0, launcher.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(output), 10000);
        const QList<QByteArray> argv = fileBytes(output).split('\0');
        QCOMPARE(argv.size(), 3); // program, -startup, and the empty rest after the last NUL
        QCOMPARE(QString::fromUtf8(argv[0]), program);
        QCOMPARE(argv[1], QByteArray("-startup"));
    }
};

QTEST_GUILESS_MAIN(AutostartTest)
#include "test_autostart.moc"
