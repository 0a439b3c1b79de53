// A second running copy of the program, as far as the settings store goes.
//
// settings_writer COUNT KEY: round i stores i under KEY, which this copy
// alone writes, and KEY followed by i under Shared, after checking that KEY
// still holds what the round before stored: a write of the other copy that
// merged an old view of the file back in would have undone it. Prints and
// exits with the number of such undone values.
//
// settings_writer --serve: for each line "KEY VALUE" on stdin, stores VALUE
// under KEY at once and answers "ok", so that the test can time this copy's
// writes against its own.
#include "settings/Registry.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    char line[4096];
    while (args.value(0) == QLatin1String("--serve") && std::fgets(line, sizeof line, stdin)) {
        const QStringList words = QString::fromUtf8(line).trimmed().split(u' ');
        Registry::writeSetting(words.value(0), words.value(1));
        std::fputs("ok\n", stdout);
        std::fflush(stdout);
    }
    const int count = args.value(0).toInt();
    const QString key = args.value(1);
    int undone = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0 && Registry::readSetting(key, QString()) != QString::number(i - 1))
            ++undone;
        Registry::writeSetting(key, QString::number(i));
        Registry::writeSetting(QStringLiteral("Shared"), key + QString::number(i));
    }
    std::printf("%d\n", undone);
    return undone == 0 ? 0 : 1;
}
