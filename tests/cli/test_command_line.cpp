#include "app/CommandLine.h"
#include "support/Table.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// --help, --version and --usage answer on stdout (or with one line on
// stderr) and end the program before it opens any window; every other
// argument text starts the program as it always has.
namespace {
// The built program over an empty home, on the Qt platform given.
void start(QProcess &p, const QTemporaryDir &home, const char *platform, const QStringList &args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QLatin1String(platform));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZARN_PROGRAM), args);
}
} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void request_data() {
        const auto r = table<QString, int>({"text", "request"});
        const int run = int(CommandLineRequest::Run), usage = int(CommandLineRequest::Usage);
        r("-startup", "-startup", run);
        r("--help", "--help", int(CommandLineRequest::Help));
        r("--version", "--version", int(CommandLineRequest::Version));
        r("capitals", "--HELP", run);
        r("with more", "--help -startup", run);
        r("--usage eth0 --json", "--usage eth0 --json", usage);
        r("--usage later", "-startup --usage", run);
        r("--usages", "--usages", run);
    }
    void request() { QTEST(int(commandLineRequest(cell<QString>("text"))), "request"); }

    // "json name" of a valid request, "-" for one that is not.
    void usage_data() {
        const auto r = table<QString, QString>({"text", "request"});
        r("selected adapter", "--usage", "0 ");
        r("JSON first", "--usage --json wlan0", "1 wlan0");
        r("JSON last", "--usage wlan0 --json", "1 wlan0");
        r("two names", "--usage a b", "-");
        r("JSON twice", "--usage --json --json", "-");
        r("unknown option", "--usage -x", "-");
    }
    void usage() {
        const UsageRequest u = usageRequest(cell<QString>("text"));
        QTEST(u.valid ? QString::number(u.json) + u' ' + u.interfaceName : QStringLiteral("-"),
              "request");
    }

    void argumentText() {
        const char *argv[] = {"prog", "-startup", "", "-platform", "offscreen"};
        QCOMPARE(::argumentText(1, argv), QString());
        QCOMPARE(::argumentText(5, argv), QStringLiteral("-startup  -platform offscreen"));
    }

    // No display to connect to: a program that made its application object
    // or a window first would fail here instead of printing.
    void printsAndExits_data() {
        const auto r =
            table<QString, QString, int, QString>({"argument", "output", "code", "error"});
        r("--version", "--version", "zarn-bandwidth 1.2.0\n", 0, "");
        r("--help", "--help", helpText(), 0, "");
        r("--usage --json, no history yet", "--usage eth0 --json", "", 1, "no usage history yet");
        r("--usage, two names", "--usage a b", "", 2, "--usage [INTERFACE] [--json]");
    }
    void printsAndExits() {
        QTemporaryDir home;
        QProcess p;
        start(p, home, "xcb", QProcess::splitCommand(cell<QString>("argument")));
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QTEST(p.exitCode(), "code");
        QTEST(QString::fromLocal8Bit(p.readAllStandardOutput()), "output");
        const QString error = cell<QString>("error"), said = p.readAllStandardError();
        QVERIFY2(error.isEmpty() ? said.isEmpty() : said.contains(error) && said.count(u'\n') == 1,
                 qPrintable(said));
        QVERIFY(QDir(home.path()).isEmpty()); // nothing stored
    }

    // A text that only looks like a request starts the program.
    void otherTextRuns() {
        QTemporaryDir home;
        QProcess p;
        start(p, home, "offscreen", {QStringLiteral("-startup"), QStringLiteral("--version")});
        QVERIFY(p.waitForStarted());
        QVERIFY2(!p.waitForFinished(1500), "the program ended instead of running");
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
        p.kill();
        p.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
