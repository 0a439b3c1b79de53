#include "usage/UsageReport.h"

#include "monitor/RateText.h"
#include "usage/UsageRules.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

namespace UsageReport {

Report build(const UsageHistory &history, const QByteArray &interfaceName, QDate today, qint64 now,
             const std::optional<CapSettings> &cap, bool records, const QTimeZone &zone) {
    Report r;
    r.interfaceName = interfaceName;
    const QDate firstOfMonth(today.year(), today.month(), 1);
    r.days = history.days(interfaceName, firstOfMonth, today);
    r.months = history.months(interfaceName, today.addMonths(-11), today);
    r.hours = history.hours(interfaceName, kHours);
    const QDate first = history.firstDay(interfaceName);
    if (records) {
        r.top = history.topDays(interfaceName, kTopDays);
        // The twelve months' reading would do for most, but a year may
        // reach back further.
        const QDate firstYear(first.isValid() ? std::min(first.year(), today.year()) : today.year(),
                              1, 1);
        r.years = UsageRules::years(history.months(interfaceName, firstYear, today));
    }
    if (!r.days.empty())
        r.todayEstimate = estimate(r.days.back(), today, today, first, today, now, zone);
    if (!r.months.empty())
        r.monthEstimate = estimate(r.months.back(), firstOfMonth,
                                   firstOfMonth.addMonths(1).addDays(-1), first, today, now, zone);
    if (cap && cap->enabled && cap->capBytes() > 0)
        r.cap = Cap{*cap, CapForecast::read(history, interfaceName, *cap, today, now, zone)};
    return r;
}

namespace {

QString number(quint64 bytes, const QLocale &locale) {
    return RateText::wholeNumber(qint64(std::min<quint64>(bytes, quint64(INT64_MAX))), locale);
}

QString line(const QString &label, const UsageTotal &t, const QLocale &locale, int width = -10) {
    const auto figure = [&](quint64 bytes) { return t.known ? number(bytes, locale) : kUnknown; };
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(label, width)
        .arg(figure(t.received), 22)
        .arg(figure(t.sent), 22)
        .arg(figure(t.received + t.sent), 22);
}

QString header(const char *first, int width = -10) {
    return QStringLiteral("%1 %2 %3 %4\n")
        .arg(QLatin1String(first), width)
        .arg(QStringLiteral("Received"), 22)
        .arg(QStringLiteral("Sent"), 22)
        .arg(QStringLiteral("Total"), 22);
}

QByteArray entries(const std::vector<UsageTotal> &totals, const char *key, Table table) {
    QByteArray out = "[";
    for (const UsageTotal &t : totals) {
        if (out.size() > 1)
            out += ", ";
        out += QByteArray("{\"") + key + "\": \"" + periodText(t, table).toLatin1() +
               "\", \"received\": " + (t.known ? QByteArray::number(t.received) : "null") +
               ", \"sent\": " + (t.known ? QByteArray::number(t.sent) : "null") + "}";
    }
    return out + "]";
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

std::optional<quint64> estimate(const UsageTotal &total, QDate first, QDate last, QDate firstRecord,
                                QDate today, qint64 now, const QTimeZone &zone) {
    // A first record today leaves nothing before it to go by: the hours
    // before it moved nothing that was counted.
    if (!firstRecord.isValid() || firstRecord >= today)
        return std::nullopt;
    return Forecast::estimate(total.received + total.sent, Forecast::localDays(first, last, zone),
                              now);
}

QString estimateText(std::optional<quint64> estimate, QDate by, UsageUnits::System system,
                     const QLocale &locale) {
    if (!estimate)
        return {};
    return QStringLiteral("; about %1 by %2")
        .arg(UsageUnits::size(*estimate, system, locale),
             by.isValid() ? locale.toString(by, QStringLiteral("d MMM"))
                          : QStringLiteral("midnight"));
}

QString periodText(const UsageTotal &total, Table table) {
    switch (table) {
    case Table::Hours:
        return total.period.toString(Qt::ISODate) + u'T' +
               total.hour.toString(QStringLiteral("HH:mm"));
    case Table::Months:
        return total.period.toString(QStringLiteral("yyyy-MM"));
    case Table::Years:
        return QString::number(total.period.year());
    case Table::Report:
    case Table::Top:
        break;
    }
    return total.period.toString(Qt::ISODate);
}

namespace {

// Each table alone: its rows, the heading of its first column and the key
// of its periods in the CSV.
struct Shown {
    const std::vector<UsageTotal> &totals;
    const char *heading;
    const char *key;
};

Shown shown(const Report &report, Table table) {
    switch (table) {
    case Table::Hours:
        return {report.hours, "Hour", "hour"};
    case Table::Months:
        return {report.months, "Month", "month"};
    case Table::Top:
        return {report.top, "Day", "date"};
    case Table::Years:
        return {report.years, "Year", "year"};
    case Table::Report:
        break;
    }
    return {report.days, "Day", "date"};
}

// Text tables write an hour with a blank, as people read it.
QString label(const UsageTotal &t, Table table) {
    return periodText(t, table).replace(u'T', u' ');
}

QString table(const char *first, const std::vector<UsageTotal> &totals, Table kind,
              UsageUnits::System system, const QLocale &locale) {
    const auto units = columnUnits(totals, system);
    const auto heading = [](const char *what, const UsageUnits::Unit &unit) {
        return QStringLiteral("%1 (%2)").arg(QLatin1String(what), unit.name);
    };
    const int width = kind == Table::Hours ? -16 : -10;
    QString out = QStringLiteral("%1 %2 %3 %4\n")
                      .arg(QLatin1String(first), width)
                      .arg(heading("Received", units[0]), 16)
                      .arg(heading("Sent", units[1]), 16)
                      .arg(heading("Total", units[2]), 16);
    for (const UsageTotal &t : totals) {
        const auto figure = [&](quint64 bytes, const UsageUnits::Unit &unit) {
            return t.known ? UsageUnits::figure(bytes, unit, locale) : kUnknown;
        };
        out += QStringLiteral("%1 %2 %3 %4\n")
                   .arg(label(t, kind), width)
                   .arg(figure(t.received, units[0]), 16)
                   .arg(figure(t.sent, units[1]), 16)
                   .arg(figure(t.received + t.sent, units[2]), 16);
    }
    return out;
}

} // namespace

QString text(const Report &report, UsageUnits::System system, const QLocale &locale, Table which) {
    QString out = QStringLiteral("Usage of %1\n").arg(shownName(report.interfaceName));
    if (which != Table::Report) {
        const Shown s = shown(report, which);
        return out + QLatin1Char('\n') + table(s.heading, s.totals, which, system, locale);
    }
    if (!report.days.empty())
        out += totalLine(QStringLiteral("Today"), report.days.back(), system, locale) +
               estimateText(report.todayEstimate, {}, system, locale) + QLatin1Char('\n');
    if (!report.months.empty()) {
        const QDate month = report.months.back().period;
        out += totalLine(QStringLiteral("This month"), report.months.back(), system, locale) +
               estimateText(report.monthEstimate, month.addDays(month.daysInMonth() - 1), system,
                            locale) +
               QLatin1Char('\n');
    }
    if (report.cap)
        out += QStringLiteral("Data cap: ") + capLine(report, locale) + QLatin1Char('\n');
    return out + QLatin1Char('\n') + table("Day", report.days, Table::Report, system, locale) +
           QLatin1Char('\n') + table("Month", report.months, Table::Months, system, locale);
}

QString capLine(const Report &report, const QLocale &locale) {
    if (!report.cap)
        return QStringLiteral("no data cap is set");
    return CapForecast::statusLine(report.cap->state, report.cap->settings, locale);
}

QString bytesText(const Report &report, const QLocale &locale, Table which) {
    QString out = QStringLiteral("Usage of %1 in bytes\n\n").arg(shownName(report.interfaceName));
    if (which != Table::Report) {
        const Shown s = shown(report, which);
        const int width = which == Table::Hours ? -16 : -10;
        out += header(s.heading, width);
        for (const UsageTotal &t : s.totals)
            out += line(label(t, which), t, locale, width);
        return out;
    }
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

QByteArray csv(const Report &report, Table which) {
    const Shown s = shown(report, which);
    QByteArray out = QByteArray(s.key) + ",received,sent\r\n";
    for (const UsageTotal &t : s.totals)
        out += periodText(t, which).toLatin1() + ',' +
               (t.known ? QByteArray::number(t.received) + ',' + QByteArray::number(t.sent)
                        : QByteArray(",")) +
               "\r\n";
    return out;
}

namespace {

QByteArray capJson(const Report &report) {
    if (!report.cap)
        return "null";
    const CapForecast::State &s = report.cap->state;
    QByteArray levels;
    for (const int level : report.cap->settings.warnings)
        levels += (levels.isEmpty() ? "" : ", ") + QByteArray::number(level);
    const auto date = [](QDate d) { return '"' + d.toString(Qt::ISODate).toLatin1() + '"'; };
    const bool on = s.runsOut.kind == Forecast::RunsOut::On;
    return "{\"size\": " + QByteArray::number(s.cap) + ", \"used\": " + QByteArray::number(s.used) +
           ", \"start\": " + date(s.span.first) + ", \"end\": " + date(s.span.last) +
           ", \"levels\": [" + levels +
           "], \"forecast\": " + (on ? date(s.runsOut.day) : QByteArray("null")) + "}";
}

} // namespace

QByteArray json(const Report &report) {
    // The name is escaped by Qt; the numbers are written by hand so that
    // they stay whole numbers, exact beyond 2^53.
    QByteArray name =
        QJsonDocument(QJsonArray{shownName(report.interfaceName)}).toJson(QJsonDocument::Compact);
    name = name.mid(1, name.size() - 2);
    return "{\"interface\": " + name +
           ", \"days\": " + entries(report.days, "date", Table::Report) +
           ", \"months\": " + entries(report.months, "month", Table::Months) +
           ", \"hours\": " + entries(report.hours, "hour", Table::Hours) +
           ", \"top\": " + entries(report.top, "date", Table::Top) +
           ", \"years\": " + entries(report.years, "year", Table::Years) +
           ", \"cap\": " + capJson(report) + "}\n";
}

} // namespace UsageReport
