#include "app/CommandLine.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// --help and --version answer on stdout and end the program before it opens
// any window; every other argument text starts the program as it always has.
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
    }
    void request() {
        QFETCH(QString, text);
        QFETCH(int, request);
        QCOMPARE(int(commandLineRequest(text)), request);
    }

    void printsAndExits_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("output");
        QTest::newRow("--version") << "--version"
                                   << "zarn-bandwidth 1.2.0\n";
        QTest::newRow("--help") << "--help" << helpText();
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
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZARN_PROGRAM), {argument});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()), output);
        QCOMPARE(p.readAllStandardError(), QByteArray());
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
