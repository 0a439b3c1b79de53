#include "app/CommandLine.h"

#include "Version.h"

QString argumentText(const QStringList &arguments) {
    return arguments.mid(1).join(QLatin1Char(' '));
}

QString argumentText(int argc, const char *const *argv) {
    QStringList arguments;
    for (int i = 0; i < argc && argv[i]; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return argumentText(arguments);
}

CommandLineRequest commandLineRequest(const QString &argumentText) {
    if (argumentText == QLatin1String("--help"))
        return CommandLineRequest::Help;
    if (argumentText == QLatin1String("--version"))
        return CommandLineRequest::Version;
    if (argumentText.section(QLatin1Char(' '), 0, 0) == QLatin1String("--usage"))
        return CommandLineRequest::Usage;
    return CommandLineRequest::Run;
}

UsageRequest usageRequest(const QString &argumentText) {
    UsageRequest r;
    const QStringList words = argumentText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.value(0) != QLatin1String("--usage"))
        return r;
    for (const QString &word : words.mid(1)) {
        if (word == QLatin1String("--json") && !r.json)
            r.json = true;
        else if (!word.startsWith(QLatin1Char('-')) && r.interfaceName.isEmpty())
            r.interfaceName = word;
        else
            return r;
    }
    r.valid = true;
    return r;
}

QString helpText() {
    return QStringLiteral(
        "Usage: zarn-bandwidth [-startup]\n"
        "       zarn-bandwidth --usage [INTERFACE] [--json]\n"
        "Shows the traffic of one network interface in a window and in the\n"
        "notification area, and keeps a history of every interface's use.\n"
        "\n"
        "  -startup   start in the notification area, with the window hidden\n"
        "  --usage    print today's, this month's days' and the last 12 months' use\n"
        "             of INTERFACE (default: the selected adapter) and exit;\n"
        "             with --json, as JSON\n"
        "  --help     print this help and exit\n"
        "  --version  print the version and exit\n");
}

QString versionText() {
    return QStringLiteral("zarn-bandwidth %1\n").arg(QString::fromUtf8(zarn::kVersionText));
}
