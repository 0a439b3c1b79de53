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
    return CommandLineRequest::Run;
}

bool showsUsageWindow(const QString &argumentText) {
    return argumentText.split(QLatin1Char(' ')).contains(QLatin1String("--show-usage"));
}

QString helpText() {
    return QStringLiteral("Usage: zarn-bandwidth [-startup] [--show-usage]\n"
                          "Shows the traffic of one network interface in a window and in the\n"
                          "notification area.\n"
                          "\n"
                          "  -startup      start in the notification area, with the window hidden\n"
                          "  --show-usage  open the Usage window as well\n"
                          "  --help        print this help and exit\n"
                          "  --version     print the version and exit\n");
}

QString versionText() {
    return QStringLiteral("zarn-bandwidth %1\n").arg(QString::fromUtf8(zarn::kVersionText));
}
