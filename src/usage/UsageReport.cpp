#include "usage/UsageReport.h"

#include "adapters/InterfaceSource.h"
#include "monitor/RateText.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "usage/UsageRecorder.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>

namespace UsageReport {

Report build(const UsageHistory &history, const QByteArray &interfaceName, QDate today) {
    Report r;
    r.interfaceName = interfaceName;
    r.days = history.days(interfaceName, QDate(today.year(), today.month(), 1), today);
    r.months = history.months(interfaceName, today.addMonths(-11), today);
    return r;
}

namespace {

QString number(quint64 bytes, const QLocale &locale) {
    return RateText::wholeNumber(qint64(std::min<quint64>(bytes, quint64(INT64_MAX))), locale);
}

QString line(const QString &label, const UsageTotal &t, const QLocale &locale) {
    const auto figure = [&](quint64 bytes) { return t.known ? number(bytes, locale) : kUnknown; };
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(label, -10)
        .arg(figure(t.received), 22)
        .arg(figure(t.sent), 22)
        .arg(figure(t.received + t.sent), 22);
}

QString header(const char *first) {
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(QLatin1String(first), -10)
        .arg(QStringLiteral("Received"), 22)
        .arg(QStringLiteral("Sent"), 22)
        .arg(QStringLiteral("Total"), 22);
}

QByteArray entries(const std::vector<UsageTotal> &totals, const char *key, const char *format) {
    QByteArray out = "[";
    for (const UsageTotal &t : totals) {
        if (out.size() > 1)
            out += ", ";
        out += QByteArray("{\"") + key + "\": \"" +
               t.period.toString(QLatin1String(format)).toLatin1() +
               "\", \"received\": " + (t.known ? QByteArray::number(t.received) : "null") +
               ", \"sent\": " + (t.known ? QByteArray::number(t.sent) : "null") + "}";
    }
    return out + "]";
}

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

QString shownName(const QByteArray &name) {
    QString out;
    for (qsizetype i = 0; i < name.size();) {
        // The character at i: the longest UTF-8 sequence (at most 4 bytes)
        // that decodes to itself, else one byte shown as \xNN.
        qsizetype n = std::min<qsizetype>(4, name.size() - i);
        while (n > 0 && QString::fromUtf8(name.mid(i, n)).toUtf8() != name.mid(i, n))
            --n;
        out += n ? QString::fromUtf8(name.mid(i, n))
                 : QStringLiteral("\\x%1").arg(uchar(name[i]), 2, 16, QLatin1Char('0'));
        i += std::max<qsizetype>(n, 1);
    }
    return out;
}

QString totalLine(const QString &period, const UsageTotal &total, UsageUnits::System system,
                  const QLocale &locale) {
    return QStringLiteral("%1: %2 received, %3 sent")
        .arg(period, UsageUnits::size(total.received, system, locale),
             UsageUnits::size(total.sent, system, locale));
}

QString exactLine(const UsageTotal &day, const QLocale &locale) {
    return QStringLiteral("%1 bytes received, %2 bytes sent")
        .arg(number(day.received, locale), number(day.sent, locale));
}

std::array<UsageUnits::Unit, 3> columnUnits(const std::vector<UsageTotal> &totals,
                                            UsageUnits::System system) {
    quint64 received = 0, sent = 0, total = 0;
    for (const UsageTotal &t : totals) {
        received = std::max(received, t.received);
        sent = std::max(sent, t.sent);
        total = std::max(total, t.received + t.sent);
    }
    return {UsageUnits::unitFor(received, system), UsageUnits::unitFor(sent, system),
            UsageUnits::unitFor(total, system)};
}

namespace {

QString table(const char *first, const std::vector<UsageTotal> &totals, const QString &format,
              UsageUnits::System system, const QLocale &locale) {
    const auto units = columnUnits(totals, system);
    const auto heading = [](const char *what, const UsageUnits::Unit &unit) {
        return QStringLiteral("%1 (%2)").arg(QLatin1String(what), unit.name);
    };
    QString out = QStringLiteral("%1 %2 %3 %4\n")
                      .arg(QLatin1String(first), -10)
                      .arg(heading("Received", units[0]), 16)
                      .arg(heading("Sent", units[1]), 16)
                      .arg(heading("Total", units[2]), 16);
    for (const UsageTotal &t : totals) {
        const auto figure = [&](quint64 bytes, const UsageUnits::Unit &unit) {
            return t.known ? UsageUnits::figure(bytes, unit, locale) : kUnknown;
        };
        out += QStringLiteral("%1 %2 %3 %4\n")
                   .arg(t.period.toString(format), -10)
                   .arg(figure(t.received, units[0]), 16)
                   .arg(figure(t.sent, units[1]), 16)
                   .arg(figure(t.received + t.sent, units[2]), 16);
    }
    return out;
}

} // namespace

QString text(const Report &report, UsageUnits::System system, const QLocale &locale) {
    QString out = QStringLiteral("Usage of %1\n").arg(shownName(report.interfaceName));
    if (!report.days.empty())
        out += totalLine(QStringLiteral("Today"), report.days.back(), system, locale) +
               QLatin1Char('\n');
    return out + QLatin1Char('\n') +
           table("Day", report.days, QStringLiteral("yyyy-MM-dd"), system, locale) +
           QLatin1Char('\n') +
           table("Month", report.months, QStringLiteral("yyyy-MM"), system, locale);
}

QString bytesText(const Report &report, const QLocale &locale) {
    QString out = QStringLiteral("Usage of %1 in bytes\n\n").arg(shownName(report.interfaceName));
    if (!report.days.empty())
        out += header("Today") +
               line(report.days.back().period.toString(Qt::ISODate), report.days.back(), locale);
    out += QLatin1Char('\n') + header("Day");
    for (const UsageTotal &t : report.days)
        out += line(t.period.toString(Qt::ISODate), t, locale);
    out += QLatin1Char('\n') + header("Month");
    for (const UsageTotal &t : report.months)
        out += line(t.period.toString(QStringLiteral("yyyy-MM")), t, locale);
    return out;
}

QByteArray json(const Report &report) {
    // The name is escaped by Qt; the numbers are written by hand so that
    // they stay whole numbers, exact beyond 2^53.
    QByteArray name =
        QJsonDocument(QJsonArray{shownName(report.interfaceName)}).toJson(QJsonDocument::Compact);
    name = name.mid(1, name.size() - 2);
    return "{\"interface\": " + name + ", \"days\": " + entries(report.days, "date", "yyyy-MM-dd") +
           ", \"months\": " + entries(report.months, "month", "yyyy-MM") + "}\n";
}

int run(const Request &request, InterfaceSource &interfaces, UsagePlatform &platform, FILE *out,
        FILE *err) {
    const QByteArray &interfaceName = request.interfaceName;
    const auto fail = [err](const QString &why) {
        std::fputs(QStringLiteral("zarn-bandwidth: %1\n").arg(why).toLocal8Bit().constData(), err);
        return 1;
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
    const Report report = build(history, name, QDate::currentDate());
    if (store->failed())
        return fail(store->error());
    // Readable but not writable: the history shown is all there is.
    const QString path = UsageRecorder::storePath(platform);
    if (!QFileInfo(path).isWritable())
        fail(QStringLiteral("note: %1: it is read-only, so no usage is being recorded").arg(path));
    const QByteArray bytes = request.json    ? json(report)
                             : request.bytes ? bytesText(report).toLocal8Bit()
                                             : text(report, request.system).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out);
    return std::fflush(out) == 0 ? 0 : 1;
}

} // namespace UsageReport
