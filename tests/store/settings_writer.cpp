// Changes options through the settings store in a loop, as a second running
// copy of the program would: settings_writer COUNT FLAG... TEXTKEY PREFIX
//
// Round i ticks or clears one of the FLAG settings in turn ("1" for even
// rounds, "0" for odd ones) and then stores PREFIX followed by i under
// TEXTKEY, so that the last text written is known: PREFIX and COUNT - 1.
// Each round makes two changes.
// The exit code is 1 when a value this copy alone writes was found changed
// behind its back. The store is the one of the environment
// (XDG_CONFIG_HOME).
#include "settings/Registry.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <map>

namespace {

// settings_writer --serve: for each line "KEY VALUE" on stdin, stores VALUE
// under KEY at once and answers "ok". The test times this copy's writes
// against its own, so that both land within one tick of the file system's
// clock.
int serve() {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
        const QString text = QString::fromUtf8(line).trimmed();
        const qsizetype blank = text.indexOf(u' ');
        if (blank < 0)
            return 2;
        Registry::writeSetting(text.left(blank), text.mid(blank + 1));
        std::fputs("ok\n", stdout);
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.value(0) == QLatin1String("--serve"))
        return serve();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: settings_writer COUNT FLAG... TEXTKEY PREFIX\n");
        return 2;
    }
    bool ok = false;
    const int count = args.at(0).toInt(&ok);
    if (!ok || count < 1)
        return 2;
    QStringList flags = args.mid(1, args.size() - 3);
    const QString textKey = args.at(args.size() - 2);
    const QString prefix = args.at(args.size() - 1);
    // Flags named with a leading '=' are shared with the other copy; only
    // the others are checked between changes.
    QStringList exclusive;
    for (QString &flag : flags) {
        if (flag.startsWith(u'='))
            flag.remove(0, 1);
        else
            exclusive << flag;
    }

    // Before each change, the values this copy alone writes must still be
    // the ones it wrote last: a write of the other copy that merged an old
    // view of the file back in would have undone them.
    int mismatches = 0;
    const auto expect = [&](const QString &key, const QString &value) {
        const QString stored = Registry::readSetting(key, QStringLiteral("<none>"));
        if (stored != value && mismatches++ < 5)
            std::fprintf(stderr, "%s: expected %s, found %s\n", qPrintable(key), qPrintable(value),
                         qPrintable(stored));
    };
    QString lastText;
    std::map<QString, QString> lastFlags;
    for (int i = 0; i < count; ++i) {
        const QString &flag = flags.at(i % flags.size());
        const int round = i / int(flags.size());
        if (exclusive.contains(flag) && lastFlags.count(flag))
            expect(flag, lastFlags[flag]);
        const QString value = round % 2 == 0 ? QStringLiteral("1") : QStringLiteral("0");
        Registry::writeSetting(flag, value);
        lastFlags[flag] = value;

        if (!lastText.isEmpty())
            expect(textKey, lastText);
        lastText = prefix + QString::number(i);
        Registry::writeSetting(textKey, lastText);
    }
    std::printf("%d\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
