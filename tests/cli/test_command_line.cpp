#include "app/CommandLine.h"
#include "support/Table.h"

#include <QProcess>
#include <QTemporaryDir>

// --help, --version and --usage answer on stdout, a wrong command line with
// one line on stderr; both end the program before it opens any window.
class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    // Run, Help, Version, Usage, Invalid: 0-4; then the hand-over of a run
    // (0 nothing, 1 main window, 2 Usage window), "json name" of --usage, or "-".
    void request_data() {
        const auto r = table<QString, QString>({"text", "request"});
        r("capitals", "--HELP", "4 -");
        r("-h", "-h", "1 -");
        r("--version among others", "-startup --version", "2 -");
        r("--usage with -startup", "-startup --usage", "4 -");
        r("--usages", "--usages", "4 -");
        r("a stray word", "eth0", "4 -");
        r("plain start", "", "0 1");
        r("Qt's options", "-platform offscreen -style=Fusion -display :0 -startup", "0 0");
        r("--show-usage", "--reverse --show-usage -startup", "0 2");
        r("selected adapter", "--usage", "3 0 ");
        r("JSON first", "--usage --json wlan0", "3 1 wlan0");
        r("JSON last", "--usage wlan0 --json", "3 1 wlan0");
        r("JSON before --usage", "--json --usage", "3 1 ");
        r("--usage=NAME", "--usage=eth0", "3 0 eth0");
        r("a name with a blank", "--usage \"Wi-Fi 2\"", "3 0 Wi-Fi 2");
        r("JSON twice", "--usage --json --json", "4 -");
        r("--bytes without --usage", "--bytes", "4 -");
        r("unknown option", "--usage -x", "4 -");
        r("hours as CSV", "--usage --csv lo --hours", "3 0 lo|1c");
        r("busiest days", "--usage --top", "3 0 |3");
        r("the cap alone", "--cap --usage=eth0", "3 0 eth0|0!");
        r("two tables", "--usage --top --years", "4 -");
        r("two formats", "--usage --csv --json", "4 -");
        r("the cap with a table", "--usage --cap --hours", "4 -");
        r("--years without --usage", "--years", "4 -");
    }
    void request() {
        const CommandLine c = parseCommandLine(QProcess::splitCommand(cell<QString>("text")));
        const QString detail =
            c.request == CommandLineRequest::Run ? QString::number(int(c.handOver))
            : c.request == CommandLineRequest::Usage
                ? QString::number(c.json) + u' ' + c.interfaceName +
                      (c.csv || c.cap || int(c.table) ? QStringLiteral("|%1%2%3")
                                                            .arg(int(c.table))
                                                            .arg(c.csv ? "c" : "", c.cap ? "!" : "")
                                                      : QString())
                : QStringLiteral("-");
        QTEST(QString::number(int(c.request)) + u' ' + detail, "request");
    }

    // The built program over an empty home, on xcb with no display: one that
    // made a window before printing fails. Code -1: runs (offscreen).
    void printsAndExits_data() {
        const auto r =
            table<QString, QString, int, QString>({"argument", "output", "code", "error"});
        r("--version", "--version", "zarn-bandwidth 1.3.0\n", 0, "");
        r("--help", "--help", helpText(), 0, "");
        r("-h", "-h", helpText(), 0, "");
        r("an unknown option", "--frobnicate", "", 2, "--frobnicate");
        r("--usage --json, no history yet", "--usage eth0 --json", "", 1, "no usage history yet");
        r("--usage, two names", "--usage a b", "", 2, "--usage [INTERFACE] [--json | --bytes");
        r("--usage --cap, no history: nothing to count", "--usage eth0 --cap", "", 3,
          "no usage history yet");
        r("Qt's options", "-platform offscreen -startup", "", -1, "");
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
