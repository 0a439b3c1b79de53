#include "app/CommandLine.h"
#include "support/Table.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// --help, --version and --usage answer on stdout (or with one line on
// stderr) and end the program before it opens any window; every other
// argument text starts the program as it always has.
class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void request_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("request");
        const int run = int(CommandLineRequest::Run);
        QTest::newRow("none") << "" << run;
        QTest::newRow("-startup") << "-startup" << run;
        QTest::newRow("--help") << "--help" << int(CommandLineRequest::Help);
        QTest::newRow("--version") << "--version" << int(CommandLineRequest::Version);
        QTest::newRow("capitals") << "--HELP" << run;
        QTest::newRow("one dash") << "-help" << run;
        QTest::newRow("short") << "-h" << run;
        QTest::newRow("with more") << "--help -startup" << run;
        QTest::newRow("after -startup") << "-startup --version" << run;
        QTest::newRow("trailing blank") << "--version " << run;
        const int usage = int(CommandLineRequest::Usage);
        QTest::newRow("--usage") << "--usage" << usage;
        QTest::newRow("--usage eth0 --json") << "--usage eth0 --json" << usage;
        QTest::newRow("--usage later") << "-startup --usage" << run;
        QTest::newRow("--usages") << "--usages" << run;
    }

    void usage_data() {
        const auto r = table<QString, bool, bool, QString>({"text", "valid", "json", "name"});
        r("selected adapter", "--usage", true, false, "");
        r("named", "--usage wlan0", true, false, "wlan0");
        r("JSON first", "--usage --json wlan0", true, true, "wlan0");
        r("JSON last", "--usage wlan0 --json", true, true, "wlan0");
        r("two names", "--usage a b", false, false, "");
        r("JSON twice", "--usage --json --json", false, false, "");
        r("unknown option", "--usage -x", false, false, "");
    }
    void usage() {
        QFETCH(QString, text);
        const UsageRequest request = usageRequest(text);
        QTEST(request.valid, "valid");
        if (!request.valid)
            return;
        QTEST(request.json, "json");
        QTEST(request.interfaceName, "name");
    }
    void request() {
        QFETCH(QString, text);
        QFETCH(int, request);
        QCOMPARE(int(commandLineRequest(text)), request);
    }

    void printsAndExits_data() {
        const auto r =
            table<QString, QString, int, QString>({"argument", "output", "code", "error"});
        r("--version", "--version", "zarn-bandwidth 1.2.0\n", 0, "");
        r("--help", "--help", helpText(), 0, "");
        r("--usage, no history yet", "--usage", "", 1, "no usage history yet");
        r("--usage --json, no history yet", "--usage eth0 --json", "", 1, "no usage history yet");
        r("--usage, two names", "--usage a b", "", 2, "--usage [INTERFACE] [--json]");
    }
    void printsAndExits() {
        QFETCH(QString, argument);
        QFETCH(QString, output);
        QTemporaryDir home;
        QProcess p;
        // No display to connect to: a program that made its application
        // object or a window first would fail here instead of printing.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZARN_PROGRAM), QProcess::splitCommand(argument));
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QFETCH(int, code);
        QCOMPARE(p.exitCode(), code);
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()), output);
        // Errors are one line.
        QFETCH(QString, error);
        const QString said = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(error.isEmpty() ? said.isEmpty() : said.contains(error) && said.count(u'\n') == 1,
                 qPrintable(said));
        QVERIFY(QDir(home.path()).isEmpty()); // nothing stored
    }

    // Texts that only look like the two requests start the program.
    void otherTextsRun_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("--HELP") << QStringList{QStringLiteral("--HELP")};
        QTest::newRow("--help twice") << QStringList{QStringLiteral("--help"), QStringLiteral("x")};
        QTest::newRow("-startup --version")
            << QStringList{QStringLiteral("-startup"), QStringLiteral("--version")};
    }
    void otherTextsRun() {
        QFETCH(QStringList, arguments);
        QTemporaryDir home;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZARN_PROGRAM), arguments);
        QVERIFY(p.waitForStarted());
        QVERIFY2(!p.waitForFinished(1500), "the program ended instead of running");
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        p.kill();
        p.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
