#include "app/CommandLine.h"

#include "Version.h"

#include <algorithm>

namespace {

// How many values follow one of Qt's own options (QGuiApplication's,
// QApplication's and the X11 plugin's, with one or two leading dashes as Qt
// takes them); -1 for anything else.
int qtOptionValues(QString option) {
    static const QStringList withValue = {QStringLiteral("-platform"),
                                          QStringLiteral("-platformpluginpath"),
                                          QStringLiteral("-platformtheme"),
                                          QStringLiteral("-plugin"),
                                          QStringLiteral("-qwindowgeometry"),
                                          QStringLiteral("-geometry"),
                                          QStringLiteral("-qwindowtitle"),
                                          QStringLiteral("-title"),
                                          QStringLiteral("-qwindowicon"),
                                          QStringLiteral("-icon"),
                                          QStringLiteral("-session"),
                                          QStringLiteral("-style"),
                                          QStringLiteral("-stylesheet"),
                                          QStringLiteral("-display"),
                                          QStringLiteral("-name"),
                                          QStringLiteral("-visual"),
                                          QStringLiteral("-qmljsdebugger")};
    static const QStringList flags = {
        QStringLiteral("-reverse"), QStringLiteral("-testability"), QStringLiteral("-widgetcount"),
        QStringLiteral("-sync"),    QStringLiteral("-nograb"),      QStringLiteral("-dograb")};
    if (option.startsWith(QLatin1String("--")))
        option.remove(0, 1);
    if (withValue.contains(option))
        return 1;
    const QString name = option.section(QLatin1Char('='), 0, 0);
    if (flags.contains(option) ||
        (option.contains(QLatin1Char('=')) &&
         (name == QLatin1String("-style") || name == QLatin1String("-stylesheet") ||
          name == QLatin1String("-qmljsdebugger"))))
        return 0;
    return -1;
}

CommandLine invalid(const QString &text) {
    CommandLine c;
    c.request = CommandLineRequest::Invalid;
    c.error = QStringLiteral("zarn-bandwidth: ") + text;
    return c;
}

} // namespace

QByteArray argumentBytes(const QString &argument) {
    const auto escaped = [](QChar c) { return c.unicode() >= 0xdc80 && c.unicode() <= 0xdcff; };
    if (std::none_of(argument.begin(), argument.end(), escaped))
        return argument.toUtf8();
    QByteArray out; // as programArguments() made it: ASCII and escaped bytes only
    for (const QChar c : argument)
        out += char(escaped(c) ? c.unicode() - 0xdc00 : c.unicode());
    return out;
}

QString argumentText(const QStringList &arguments) {
    return arguments.join(QLatin1Char(' '));
}

QStringList programArguments(int argc, const char *const *argv) {
    QStringList arguments;
    for (int i = 1; i < argc && argv[i]; ++i) {
        const QByteArray bytes(argv[i]);
        QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes) {
            // Not UTF-8 (an interface name is any bytes): each byte from
            // 0x80 on is kept as a lone surrogate, as Python's surrogateescape
            // does, so that argumentBytes() gives the very bytes back.
            text.clear();
            for (const char c : bytes)
                text += uchar(c) < 0x80 ? QChar(uchar(c)) : QChar(0xdc00 + uchar(c));
        }
        arguments << text;
    }
    return arguments;
}

CommandLine parseCommandLine(const QStringList &arguments) {
    CommandLine c;
    bool help = false, version = false, usage = false, startup = false, qt = false;
    int json = 0, bytes = 0, csv = 0, cap = 0;
    QStringList words, tables;
    static const QStringList tableOptions = {QStringLiteral("--hours"), QStringLiteral("--months"),
                                             QStringLiteral("--top"), QStringLiteral("--years")};
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            help = true;
        else if (a == QLatin1String("--version"))
            version = true;
        else if (a == QLatin1String("-startup"))
            startup = true;
        else if (a == QLatin1String("--show-usage"))
            c.showUsage = true;
        else if (a == QLatin1String("--json"))
            ++json;
        else if (a == QLatin1String("--bytes"))
            ++bytes;
        else if (a == QLatin1String("--csv"))
            ++csv;
        else if (a == QLatin1String("--cap"))
            ++cap;
        else if (tableOptions.contains(a))
            tables << a;
        else if (a == QLatin1String("--usage"))
            usage = true;
        else if (a.startsWith(QLatin1String("--usage=")))
            usage = true, words << a.mid(8);
        else if (!a.startsWith(QLatin1Char('-')))
            words << a;
        else if (const int values = qtOptionValues(a); values < 0)
            return invalid(QStringLiteral("unknown option %1 (see --help)").arg(a));
        else if (i + values >= arguments.size())
            return invalid(QStringLiteral("option %1 needs a value").arg(a));
        else
            i += values, qt = true;
    }
    if (help || version) {
        c.request = help ? CommandLineRequest::Help : CommandLineRequest::Version;
    } else if (usage) {
        if (startup || c.showUsage || qt || json + bytes + csv > 1 || tables.size() > 1 ||
            (cap && (cap > 1 || json + bytes + csv + tables.size() > 0)) || words.size() > 1 ||
            words.value(0, QStringLiteral("-")).isEmpty())
            return invalid(QStringLiteral("usage: zarn-bandwidth --usage [INTERFACE] [--json | "
                                          "--bytes | --csv] [--hours | --months | --top | "
                                          "--years] | --cap"));
        c.request = CommandLineRequest::Usage;
        c.json = json == 1;
        c.bytes = bytes == 1;
        c.csv = csv == 1;
        c.cap = cap == 1;
        if (!tables.isEmpty())
            c.table = UsageReport::Table(tableOptions.indexOf(tables.first()) + 1);
        c.interfaceName = words.value(0);
    } else if (json + bytes + csv + cap + tables.size() > 0) {
        const QString option = json    ? QStringLiteral("--json")
                               : bytes ? QStringLiteral("--bytes")
                               : csv   ? QStringLiteral("--csv")
                               : cap   ? QStringLiteral("--cap")
                                       : tables.first();
        return invalid(QStringLiteral("%1 goes with --usage (see --help)").arg(option));
    } else if (!words.isEmpty()) {
        return invalid(QStringLiteral("unexpected argument %1 (see --help)").arg(words.first()));
    } else {
        c.handOver = c.showUsage ? HandOver::ShowUsage
                     : startup   ? HandOver::Nothing
                                 : HandOver::ShowMain;
    }
    return c;
}

QString helpText() {
    return QStringLiteral(
        "Usage: zarn-bandwidth [-startup] [--show-usage]\n"
        "       zarn-bandwidth --usage [INTERFACE] [--json | --bytes | --csv]\n"
        "                              [--hours | --months | --top | --years]\n"
        "       zarn-bandwidth --usage [INTERFACE] --cap\n"
        "Shows the traffic of one network interface in a window and in the\n"
        "notification area, and keeps a history of every interface's use.\n"
        "Started again while it runs, it brings the running copy's window to\n"
        "the front (or its Usage window, with --show-usage) and ends.\n"
        "\n"
        "  -startup      start in the notification area, with the window hidden\n"
        "  --show-usage  open the Usage window as well\n"
        "  --usage       print today's, this month's days' and the last 12 months'\n"
        "                use of INTERFACE (default: the selected adapter) and exit;\n"
        "                with --json, as JSON; with --bytes, in whole bytes;\n"
        "                --usage=INTERFACE works too; the lines of today and this\n"
        "                month add where they are heading at the pace so far\n"
        "  --hours       with --usage: the last 24 hours alone\n"
        "  --months      with --usage: the last 12 months alone\n"
        "  --top         with --usage: the ten busiest days on record\n"
        "  --years       with --usage: every year on record\n"
        "  --csv         with --usage: that table (else this month's days) as CSV\n"
        "  --cap         with --usage: the data cap's state in one line; exits 0\n"
        "                under the first warning, 1 past it, 2 when used up, 3\n"
        "                when no cap is set or nothing can be counted\n"
        "  -h, --help    print this help and exit\n"
        "  --version     print the version and exit\n"
        "Qt's own options (-platform, -display, -style ...) are passed on to Qt.\n");
}

QString versionText() {
    return QStringLiteral("zarn-bandwidth %1\n").arg(QString::fromUtf8(zarn::kVersionText));
}
