#include "app/CommandLine.h"

QString argumentText(const QStringList &arguments) {
    return arguments.mid(1).join(QLatin1Char(' '));
}

QString argumentText(int argc, const char *const *argv) {
    QStringList arguments;
    for (int i = 0; i < argc && argv[i]; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return argumentText(arguments);
}
