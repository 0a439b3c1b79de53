#include "usage/CapRules.h"

#include "monitor/RateText.h"

#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace CapRules {

namespace {
double unitBytes(Unit unit) {
    return unit == Unit::GiB ? 1024.0 * 1024.0 * 1024.0 : 1e9;
}
} // namespace

QDate resetDate(int year, int month, int resetDay) {
    const QDate first(year, month, 1);
    return QDate(year, month, std::clamp(resetDay, 1, first.daysInMonth()));
}

Span periodOf(Period period, int resetDay, QDate today) {
    if (period == Period::Daily)
        return {today, today};
    QDate start = resetDate(today.year(), today.month(), resetDay);
    if (start > today) {
        const QDate previous = today.addMonths(-1);
        start = resetDate(previous.year(), previous.month(), resetDay);
    }
    const QDate following = start.addMonths(1);
    return {start, resetDate(following.year(), following.month(), resetDay).addDays(-1)};
}

quint64 capBytes(double amount, Unit unit) {
    const double bytes = std::round(amount * unitBytes(unit));
    // Up to 2^63: far beyond any plan, and still exact enough as a double.
    if (!(bytes >= 1) || bytes > 9.2e18)
        return 0;
    return static_cast<quint64>(bytes);
}

quint64 counted(Direction direction, quint64 received, quint64 sent) {
    switch (direction) {
    case Direction::Received:
        return received;
    case Direction::Sent:
        return sent;
    case Direction::Both:
        break;
    }
    return received > ~quint64(0) - sent ? ~quint64(0) : received + sent;
}

std::vector<int> newlyCrossed(quint64 used, quint64 cap, const std::vector<int> &percentages,
                              const std::vector<int> &given) {
    std::vector<int> crossed;
    if (cap == 0)
        return crossed;
    for (int percent : percentages) {
        // used / cap >= percent / 100, without the rounding of a division.
        const long double reached = static_cast<long double>(used) * 100;
        if (reached >= static_cast<long double>(cap) * percent &&
            std::find(given.begin(), given.end(), percent) == given.end())
            crossed.push_back(percent);
    }
    std::sort(crossed.begin(), crossed.end());
    return crossed;
}

std::optional<std::vector<int>> readPercentages(const QString &text) {
    static const QRegularExpression separators(QStringLiteral("[\\s,;%]+"));
    std::vector<int> out;
    for (const QString &part : text.split(separators, Qt::SkipEmptyParts)) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok || value < 1 || value > 999)
            return std::nullopt;
        out.push_back(value);
    }
    if (out.empty())
        return std::nullopt;
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

QString percentagesText(const std::vector<int> &percentages) {
    QStringList parts;
    for (int p : percentages)
        parts << QString::number(p);
    return parts.join(QLatin1Char(' '));
}

QString amountText(quint64 bytes, Unit unit, const QLocale &locale) {
    return RateText::twoDecimals(static_cast<double>(bytes) / unitBytes(unit), locale) +
           (unit == Unit::GiB ? QStringLiteral(" GiB") : QStringLiteral(" GB"));
}

} // namespace CapRules
