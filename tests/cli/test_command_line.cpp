#include "app/CommandLine.h"
#include "support/Table.h"

#include <QProcess>
#include <QTemporaryDir>

// --help, --version and --usage answer on stdout (or with one line on stderr)
// and end the program before it opens any window; any other text runs it.
class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    // Run, Help, Version, Usage: 0-3; then "json name" of --usage, "-": invalid.
    void request_data() {
        const auto r = table<QString, QString>({"text", "request"});
        r("capitals", "--HELP", "0 -");
        r("--usage later", "-startup --usage", "0 -");
        r("--usages", "--usages", "0 -");
        r("selected adapter", "--usage", "3 0 ");
        r("JSON first", "--usage --json wlan0", "3 1 wlan0");
        r("JSON last", "--usage wlan0 --json", "3 1 wlan0");
        r("JSON twice", "--usage --json --json", "3 -");
        r("unknown option", "--usage -x", "3 -");
    }
    void request() {
        const QString text = cell<QString>("text");
        const UsageRequest u = usageRequest(text);
        QTEST(
            QString::number(int(commandLineRequest(text))) + u' ' +
                (u.valid ? QString::number(u.json) + u' ' + u.interfaceName : QStringLiteral("-")),
            "request");
    }

    // The built program over an empty home, on xcb with no display: one that
    // made a window before printing fails. Code -1: runs (offscreen).
    void printsAndExits_data() {
        const auto r =
            table<QString, QString, int, QString>({"argument", "output", "code", "error"});
        r("--version", "--version", "zarn-bandwidth 1.2.0\n", 0, "");
        r("--help", "--help", helpText(), 0, "");
        r("--usage --json, no history yet", "--usage eth0 --json", "", 1, "no usage history yet");
        r("--usage, two names", "--usage a b", "", 2, "--usage [INTERFACE] [--json]");
        r("not a request", "-startup --version", "", -1, "");
    }
    void printsAndExits() {
        const bool runs = cell<int>("code") < 0;
        const QTemporaryDir dir;
        const QString home = dir.path();
        QProcess p;
        p.setEnvironment({QStringLiteral("QT_QPA_PLATFORM=") + (runs ? "offscreen" : "xcb"),
                          "HOME=" + home, "XDG_CONFIG_HOME=" + home, "XDG_DATA_HOME=" + home});
        p.start(QStringLiteral(ZARN_PROGRAM), QProcess::splitCommand(cell<QString>("argument")));
        QVERIFY(p.waitForStarted());
        const bool ended = p.waitForFinished(runs ? 1500 : 20000);
        QTEST(ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, "code");
        QTEST(QString::fromLocal8Bit(p.readAllStandardOutput()), "output");
        const QString error = cell<QString>("error"), said = p.readAllStandardError();
        QVERIFY2(runs || (error.isEmpty() ? said.isEmpty()
                                          : said.contains(error) && said.count(u'\n') == 1),
                 qPrintable(said));
        QVERIFY(runs || QDir(home).isEmpty()); // nothing stored
        p.kill();
        p.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
