#pragma once

#include <QDate>
#include <QTimeZone>
#include <QtGlobal>
#include <optional>

// Where a period is heading at the pace so far: the estimate for the whole
// day or month, and the day a data cap runs out. Plain functions over UTC
// seconds, so that daylight saving days and short months have table tests.
namespace Forecast {

// Less of a period than this has passed: too little to estimate from.
constexpr qint64 kLeastSeconds = 3 * 3600;

// The local days first to last, whole, as UTC seconds [start, end): a day
// of 23 or 25 hours where daylight saving starts or ends.
struct Span {
    qint64 start = 0;
    qint64 end = 0;
};
Span localDays(QDate first, QDate last, const QTimeZone &zone);

// The whole period's bytes at the pace so far (used over the part of it
// that passed, as vnStat estimates); none before kLeastSeconds of it passed,
// and none once it is over.
std::optional<quint64> estimate(quint64 used, Span period, qint64 now);

// When a cap runs out at the pace so far: the faster of the period's own
// pace and the last seven days' (lastWeek: the bytes of the seven whole
// days before today, none where the history does not reach back so far).
struct RunsOut {
    enum Kind {
        Already,      // used up
        On,           // on day
        NotBeforeEnd, // not before the period ends
        Unknown,      // too early in the period, and no week to go by
    };
    Kind kind = Unknown;
    QDate day;
    bool operator==(const RunsOut &) const = default;
};
RunsOut runsOut(quint64 used, quint64 cap, Span period, qint64 now, std::optional<quint64> lastWeek,
                const QTimeZone &zone);

} // namespace Forecast
