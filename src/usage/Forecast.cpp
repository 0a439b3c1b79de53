#include "usage/Forecast.h"

#include <QDateTime>
#include <algorithm>

namespace Forecast {

Span localDays(QDate first, QDate last, const QTimeZone &zone) {
    return {first.startOfDay(zone).toSecsSinceEpoch(),
            last.addDays(1).startOfDay(zone).toSecsSinceEpoch()};
}

std::optional<quint64> estimate(quint64 used, Span period, qint64 now) {
    const qint64 passed = now - period.start;
    if (passed < kLeastSeconds || now >= period.end)
        return std::nullopt;
    const long double whole = static_cast<long double>(used) * (period.end - period.start) / passed;
    return static_cast<quint64>(std::min<long double>(whole, 1.8e19L));
}

RunsOut runsOut(quint64 used, quint64 cap, Span period, qint64 now, std::optional<quint64> lastWeek,
                const QTimeZone &zone) {
    if (cap == 0)
        return {};
    if (used >= cap)
        return {RunsOut::Already, {}};
    // Bytes per second: the faster pace runs the cap out sooner.
    long double pace = -1;
    if (now - period.start >= kLeastSeconds)
        pace = static_cast<long double>(used) / (now - period.start);
    if (lastWeek)
        pace = std::max(pace, static_cast<long double>(*lastWeek) / (7 * 86400));
    if (pace < 0)
        return {};
    const long double left = static_cast<long double>(cap - used);
    if (pace == 0 || now + left / pace >= period.end)
        return {RunsOut::NotBeforeEnd, {}};
    const qint64 at = now + static_cast<qint64>(left / pace);
    return {RunsOut::On, QDateTime::fromSecsSinceEpoch(at, zone).date()};
}

} // namespace Forecast
