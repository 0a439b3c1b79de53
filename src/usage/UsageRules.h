#pragma once

#include "usage/UsageHistory.h"

#include <QByteArray>
#include <QDate>
#include <QSet>
#include <QString>
#include <QTimeZone>
#include <QtGlobal>
#include <vector>

// The arithmetic of the usage history, free of the store and the system so
// that each rule has a table test.
namespace UsageRules {

// Period lengths kept in the store, in seconds: fine periods for the last
// days, hours for the last year, whole UTC days beyond.
constexpr qint64 kFine = 300;
constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 86400;
// How long each length is kept before it is merged into the next.
constexpr qint64 kKeepFine = 2 * kDay;
constexpr qint64 kKeepHours = 400 * kDay;

// The start of the period of length that holds utcSeconds (floor, also
// before 1970).
qint64 periodStart(qint64 utcSeconds, qint64 length);

// The start of the longer period (kHour or kDay) that a row starting at start
// is merged into. Local days must stay exact in every zone, also those half
// or three quarters of an hour off UTC: an hour is the UTC hour, cut at a
// local midnight inside it; a day is the local day.
qint64 mergedStart(qint64 start, qint64 length, const QTimeZone &zone);

// One stored period.
struct Period {
    qint64 start = 0; // UTC seconds
    qint64 length = 0;
    quint64 received = 0;
    quint64 sent = 0;
};

// Totals per local calendar period. Rows are assigned to the local day (or
// month) in which they start; whole days that start at a UTC midnight (as an
// older version merged them) to their own date. A day that gains or loses an hour to daylight
// saving simply has 25 or 23 hours of periods. A day (month) that ends
// before firstDay, the day of the interface's first record, is not known;
// without a firstDay every one is.
using Total = UsageTotal;
std::vector<Total> days(const std::vector<Period> &rows, QDate first, QDate last,
                        const QTimeZone &zone, QDate firstDay = {});
std::vector<Total> months(const std::vector<Period> &rows, QDate first, QDate last,
                          const QTimeZone &zone, QDate firstDay = {});
// The count UTC hours from `from` on (an hour's start), each told by its
// local date and start time; rows go to the hour they start in. An hour that
// ends at or before firstRecord (UTC seconds) is not known.
std::vector<Total> hours(const std::vector<Period> &rows, qint64 from, int count,
                         const QTimeZone &zone, qint64 firstRecord);
// The count local days that moved the most, busiest first; days with no
// traffic are left out, and equal days go by date, the earlier first.
std::vector<Total> topDays(const std::vector<Period> &rows, int count, const QTimeZone &zone);
// Months summed into years (period: the 1st of January); a year is known
// when one of its months is.
std::vector<Total> years(const std::vector<Total> &months);
// The local day a row counts on, as days() assigns it.
QDate dayOf(const Period &row, const QTimeZone &zone);

// The UTC span [from, to) that holds every row days() or months() can use.
std::pair<qint64, qint64> span(QDate first, QDate last, const QTimeZone &zone);

// Which links are counted: every one a user pays for, but not the loopback,
// container veths and bridges, which only repeat traffic counted elsewhere,
// unless the user names them.
enum class LinkKind { Counted, Loopback, Veth, Bridge };
bool counted(LinkKind kind, const QByteArray &name, const QSet<QByteArray> &named);

// The names in the "HistoryInterfaces" text, separated by blanks.
QSet<QByteArray> namedInterfaces(const QString &text);

} // namespace UsageRules
