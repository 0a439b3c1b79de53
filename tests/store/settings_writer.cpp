// Changes options through the settings store in a loop, as a second running
// copy of the program would: settings_writer COUNT FLAG... TEXTKEY PREFIX
//
// Change i ticks or clears one of the FLAG settings in turn ("1" for even
// rounds, "0" for odd ones) and then stores PREFIX followed by i under
// TEXTKEY, so that the last text written is known: PREFIX and COUNT - 1.
// After each change it reads the text back: a value this copy alone writes
// must read back as written, whatever the other copy does meanwhile. The
// exit code is 1 when any read-back differed. The store is the one of the
// environment (XDG_CONFIG_HOME).
#include "settings/Registry.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: settings_writer COUNT FLAG... TEXTKEY PREFIX\n");
        return 2;
    }
    bool ok = false;
    const int count = args.at(0).toInt(&ok);
    if (!ok || count < 1)
        return 2;
    const QStringList flags = args.mid(1, args.size() - 3);
    const QString textKey = args.at(args.size() - 2);
    const QString prefix = args.at(args.size() - 1);

    int mismatches = 0;
    for (int i = 0; i < count; ++i) {
        const QString &flag = flags.at(i % flags.size());
        const int round = i / int(flags.size());
        Registry::writeSetting(flag, round % 2 == 0 ? QStringLiteral("1") : QStringLiteral("0"));
        const QString text = prefix + QString::number(i);
        Registry::writeSetting(textKey, text);
        const QString back = Registry::readSetting(textKey, QString());
        if (back != text) {
            if (mismatches++ < 5)
                std::fprintf(stderr, "wrote %s, read back %s\n", qPrintable(text),
                             qPrintable(back));
        }
    }
    std::printf("%d\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
