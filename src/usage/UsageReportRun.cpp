// The command line's report: finds the interface, reads the store and the
// settings, writes nothing.
#include "usage/UsageReport.h"

#include "adapters/InterfaceSource.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "usage/UsageRecorder.h"

#include <QFileInfo>
#include <cstdio>

namespace UsageReport {

namespace {

// The name of the interface the main window follows: the stored adapter's
// name (indexes change with every reboot or re-created link), the name now
// at its stored index, or the one the history last saw selected.
QByteArray selectedName(InterfaceSource &interfaces, UsageStore *store) {
    const QByteArray stored =
        Conversions::textToInterfaceName(Registry::readSetting(QStringLiteral("AdapterName"), {}));
    if (!stored.isEmpty())
        return stored;
    const auto index = Conversions::textToWholeInt32(
        Registry::readSetting(QStringLiteral("Adapter"), QStringLiteral("0")));
    std::vector<InterfaceRow> rows;
    if (index && *index != 0 && interfaces.interfaceTable(rows) == TableResult::Ok) {
        for (const InterfaceRow &row : rows)
            if (row.index == *index && !row.name.isEmpty())
                return row.name;
    }
    return store ? store->note("selected") : QByteArray();
}

} // namespace

int run(const Request &request, InterfaceSource &interfaces, UsagePlatform &platform, FILE *out,
        FILE *err) {
    const QByteArray &interfaceName = request.interfaceName;
    // A script asking for the cap hears "nothing can be counted".
    const int failed = request.cap ? NoCap : 1;
    const auto fail = [err, failed](const QString &why) {
        std::fputs(QStringLiteral("zarn-bandwidth: %1\n").arg(why).toLocal8Bit().constData(), err);
        return failed;
    };
    // What the kernel counted since the last save is added while the name
    // is recorded, as the settings say.
    UsageRecorder::Options options = UsageRecorder::optionsFromSettings();
    options.reader = true;
    UsageRecorder history(interfaces, platform, options);
    history.start();
    if (!history.available())
        return fail(history.error());
    UsageStore *store = history.store();
    const QByteArray name =
        interfaceName.isEmpty() ? selectedName(interfaces, store) : interfaceName;
    if (name.isEmpty())
        return fail(QStringLiteral("no adapter is selected; name one: zarn-bandwidth --usage "
                                   "INTERFACE"));
    if (!store->knows(name)) {
        // Quoted, so that names with blanks ("Wi-Fi 2") can be told apart.
        QStringList known;
        for (const QByteArray &n : store->names())
            known << QLatin1Char('"') + shownName(n) + QLatin1Char('"');
        // What to do about it, in the window the user knows.
        const QString remedy =
            options.record
                ? QStringLiteral("; to record it, tick \"Record usage of this interface\" in "
                                 "the Usage window, or name it in HistoryInterfaces")
                : QStringLiteral("; the usage history is off: tick \"Keep usage history\" in "
                                 "the Usage window");
        return fail(QStringLiteral("there is no usage history of %1 (kept: %2)")
                        .arg(shownName(name), known.isEmpty() ? QStringLiteral("none")
                                                              : known.join(QStringLiteral(", "))) +
                    remedy);
    }
    const CapSettings cap = UsageSettings::readCap();
    const QDate today = QDate::currentDate();
    const Report report =
        build(history, name, today, CapForecast::nowOn(today),
              cap.enabled ? std::optional(cap) : std::nullopt,
              request.json || request.table == Table::Top || request.table == Table::Years);
    if (store->failed())
        return fail(store->error());
    // Readable but not writable: the history shown is all there is.
    const QString path = UsageRecorder::storePath(platform);
    if (!QFileInfo(path).isWritable())
        fail(QStringLiteral("note: %1: it is read-only, so no usage is being recorded").arg(path));
    if (request.cap) {
        const bool counts = report.cap && history.records(name);
        const QString state =
            counts       ? capLine(report)
            : report.cap ? QStringLiteral("it is not recorded, so the data cap cannot count it")
                         : QStringLiteral("no data cap is set");
        const QByteArray said =
            (shownName(name) + QStringLiteral(": ") + state + u'\n').toLocal8Bit();
        std::fwrite(said.constData(), 1, size_t(said.size()), out);
        if (std::fflush(out) != 0 || !counts)
            return NoCap;
        const CapForecast::State &s = report.cap->state;
        return CapForecast::level(s.used, s.cap, cap.warnings);
    }
    const QByteArray bytes =
        request.json    ? json(report)
        : request.csv   ? csv(report, request.table)
        : request.bytes ? bytesText(report, QLocale(), request.table).toLocal8Bit()
                        : text(report, request.system, QLocale(), request.table).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    return std::fflush(out) == 0 ? 0 : 1;
}

} // namespace UsageReport
