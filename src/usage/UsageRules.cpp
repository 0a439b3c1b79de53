#include "usage/UsageRules.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <map>

namespace UsageRules {

qint64 periodStart(qint64 utcSeconds, qint64 length) {
    qint64 start = utcSeconds - utcSeconds % length;
    return start > utcSeconds ? start - length : start;
}

qint64 mergedStart(qint64 start, qint64 length, const QTimeZone &zone) {
    const qint64 midnight =
        QDateTime::fromSecsSinceEpoch(start, zone).date().startOfDay(zone).toSecsSinceEpoch();
    if (length >= kDay)
        return midnight;
    const qint64 period = periodStart(start, length);
    return std::max(period, midnight);
}

namespace {

// boundaries[i] is the UTC start of the i-th local period, the last one the
// end of the whole range; rows go to the period they start in.
std::vector<Total> bucket(const std::vector<Period> &rows, const std::vector<QDate> &periods,
                          const std::vector<qint64> &boundaries, bool byMonth, QDate firstDay) {
    std::vector<Total> out;
    out.reserve(periods.size());
    for (const QDate &d : periods)
        out.push_back(
            {d, 0, 0, !firstDay.isValid() || (byMonth ? d.addMonths(1) : d.addDays(1)) > firstDay});
    const QDate epoch(1970, 1, 1);
    for (const Period &p : rows) {
        qsizetype i = -1;
        if (p.length >= kDay && p.start % kDay == 0) {
            // Whole UTC days keep their own date: the hours inside are gone.
            // Days merged since start at a local midnight and go by it.
            QDate date = epoch.addDays(p.start / kDay);
            if (byMonth)
                date = QDate(date.year(), date.month(), 1);
            const auto it = std::lower_bound(periods.begin(), periods.end(), date);
            if (it != periods.end() && *it == date)
                i = it - periods.begin();
        } else {
            const auto it = std::upper_bound(boundaries.begin(), boundaries.end(), p.start);
            i = (it - boundaries.begin()) - 1;
            if (i >= qsizetype(periods.size()))
                i = -1;
        }
        if (i < 0)
            continue;
        out[size_t(i)].received += p.received;
        out[size_t(i)].sent += p.sent;
    }
    return out;
}

qint64 localStart(QDate date, const QTimeZone &zone) {
    return date.startOfDay(zone).toSecsSinceEpoch();
}

std::vector<QDate> dayList(QDate first, QDate last) {
    std::vector<QDate> out;
    for (QDate d = first; d.isValid() && d <= last; d = d.addDays(1))
        out.push_back(d);
    return out;
}

std::vector<QDate> monthList(QDate first, QDate last) {
    std::vector<QDate> out;
    if (!first.isValid() || !last.isValid())
        return out;
    const QDate end(last.year(), last.month(), 1);
    for (QDate d(first.year(), first.month(), 1); d <= end; d = d.addMonths(1))
        out.push_back(d);
    return out;
}

std::vector<qint64> boundaries(const std::vector<QDate> &periods, QDate end,
                               const QTimeZone &zone) {
    std::vector<qint64> out;
    out.reserve(periods.size() + 1);
    for (const QDate &d : periods)
        out.push_back(localStart(d, zone));
    out.push_back(localStart(end, zone));
    return out;
}

} // namespace

std::vector<Total> days(const std::vector<Period> &rows, QDate first, QDate last,
                        const QTimeZone &zone, QDate firstDay) {
    const auto list = dayList(first, last);
    if (list.empty())
        return {};
    return bucket(rows, list, boundaries(list, last.addDays(1), zone), false, firstDay);
}

std::vector<Total> months(const std::vector<Period> &rows, QDate first, QDate last,
                          const QTimeZone &zone, QDate firstDay) {
    const auto list = monthList(first, last);
    if (list.empty())
        return {};
    return bucket(rows, list, boundaries(list, list.back().addMonths(1), zone), true, firstDay);
}

QDate dayOf(const Period &row, const QTimeZone &zone) {
    if (row.length >= kDay && row.start % kDay == 0)
        return QDate(1970, 1, 1).addDays(row.start / kDay);
    return QDateTime::fromSecsSinceEpoch(row.start, zone).date();
}

std::vector<Total> hours(const std::vector<Period> &rows, qint64 from, int count,
                         const QTimeZone &zone, qint64 firstRecord) {
    std::vector<Total> out;
    for (int i = 0; i < count; ++i) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(from + i * kHour, zone);
        out.push_back({local.date(), 0, 0, from + (i + 1) * kHour > firstRecord, local.time()});
    }
    for (const Period &p : rows) {
        const qint64 i = (periodStart(p.start, kHour) - from) / kHour;
        // Only rows of an hour or less: a whole day tells no hour.
        if (p.length > kHour || p.start < from || i >= count)
            continue;
        out[size_t(i)].received += p.received;
        out[size_t(i)].sent += p.sent;
    }
    return out;
}

std::vector<Total> topDays(const std::vector<Period> &rows, int count, const QTimeZone &zone) {
    std::map<QDate, Total> byDay;
    // The rows of a day mostly come one after another: the day last found
    // spares a conversion in the zone for each of them.
    QDate day;
    qint64 dayStart = 1, dayEnd = 0;
    for (const Period &p : rows) {
        const bool wholeUtcDay = p.length >= kDay && p.start % kDay == 0;
        if (!wholeUtcDay && (p.start < dayStart || p.start >= dayEnd)) {
            day = dayOf(p, zone);
            dayStart = localStart(day, zone);
            dayEnd = localStart(day.addDays(1), zone);
        }
        Total &t = byDay[wholeUtcDay ? dayOf(p, zone) : day];
        t.received += p.received;
        t.sent += p.sent;
    }
    std::vector<Total> out;
    for (auto &[day, t] : byDay)
        if (t.received + t.sent > 0)
            out.push_back({day, t.received, t.sent});
    // Stable: the earlier of two equal days stays first.
    std::stable_sort(out.begin(), out.end(), [](const Total &a, const Total &b) {
        return a.received + a.sent > b.received + b.sent;
    });
    out.resize(std::min(out.size(), size_t(std::max(count, 0))));
    return out;
}

std::vector<Total> years(const std::vector<Total> &months) {
    std::vector<Total> out;
    for (const Total &m : months) {
        if (out.empty() || out.back().period.year() != m.period.year())
            out.push_back({QDate(m.period.year(), 1, 1), 0, 0, false});
        out.back().received += m.received;
        out.back().sent += m.sent;
        out.back().known = out.back().known || m.known;
    }
    return out;
}

std::pair<qint64, qint64> span(QDate first, QDate last, const QTimeZone &zone) {
    if (!first.isValid() || !last.isValid() || last < first)
        return {0, 0};
    const QDate monthStart(first.year(), first.month(), 1);
    const QDate monthEnd = QDate(last.year(), last.month(), 1).addMonths(1);
    // A day either side for whole UTC days, whose date may differ from the
    // local one.
    return {localStart(monthStart, zone) - kDay, localStart(monthEnd, zone) + kDay};
}

bool counted(LinkKind kind, const QByteArray &name, const QSet<QByteArray> &named) {
    return kind == LinkKind::Counted || named.contains(name);
}

QSet<QByteArray> namedInterfaces(const QString &text) {
    QSet<QByteArray> out;
    for (const QString &name : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.insert(name.toUtf8());
    return out;
}

} // namespace UsageRules
