#include "usage/CapForecast.h"

#include "usage/UsageHistory.h"

#include <QDateTime>
#include <algorithm>

namespace {

QString countedWords(CapRules::Direction direction) {
    switch (direction) {
    case CapRules::Direction::Received:
        return QStringLiteral("received");
    case CapRules::Direction::Sent:
        return QStringLiteral("sent");
    case CapRules::Direction::Both:
        break;
    }
    return QStringLiteral("received and sent");
}

QString spanWords(const CapRules::Span &span, const QLocale &locale) {
    if (span.first == span.last)
        return QStringLiteral("on ") + locale.toString(span.first, QLocale::ShortFormat);
    return QStringLiteral("from %1 to %2")
        .arg(locale.toString(span.first, QLocale::ShortFormat),
             locale.toString(span.last, QLocale::ShortFormat));
}

int percentOf(quint64 used, quint64 cap) {
    if (cap == 0)
        return 0;
    const long double percent = static_cast<long double>(used) * 100 / cap;
    return static_cast<int>(std::min<long double>(percent, 1e6L));
}

} // namespace

namespace CapForecast {

State read(const UsageHistory &history, const QByteArray &name, const CapSettings &settings,
           QDate today, qint64 now, const QTimeZone &zone) {
    State s;
    s.span = CapRules::periodOf(settings.period, settings.resetDay, today);
    s.cap = settings.capBytes();
    const QDate weekAgo = today.addDays(-7);
    quint64 received = 0, sent = 0, weekReceived = 0, weekSent = 0;
    int weekDays = 0;
    bool wholeWeek = true;
    for (const UsageTotal &day : history.days(name, std::min(s.span.first, weekAgo), today)) {
        if (day.period >= s.span.first) {
            received += day.received;
            sent += day.sent;
        }
        if (day.period >= weekAgo && day.period < today) {
            // A week that reaches before the first record would make the
            // pace look slower than it is.
            wholeWeek = wholeWeek && day.known;
            ++weekDays;
            weekReceived += day.received;
            weekSent += day.sent;
        }
    }
    s.used = CapRules::counted(settings.direction, received, sent);
    const auto week =
        wholeWeek ? std::optional(CapRules::counted(settings.direction, weekReceived, weekSent))
                  : std::nullopt;
    s.runsOut = Forecast::runsOut(
        s.used, s.cap, Forecast::localDays(s.span.first, s.span.last, zone), now, week, zone);
    return s;
}

qint64 nowOn(QDate today, const QTimeZone &zone) {
    const QDateTime now = QDateTime::currentDateTimeUtc().toTimeZone(zone);
    return now.date() == today ? now.toSecsSinceEpoch()
                               : QDateTime(today, now.time(), zone).toSecsSinceEpoch();
}

QString runsOutText(const Forecast::RunsOut &runsOut, const QLocale &locale) {
    switch (runsOut.kind) {
    case Forecast::RunsOut::On:
        return QStringLiteral("At this pace the cap is used up on %1.")
            .arg(locale.toString(runsOut.day, QStringLiteral("d MMM")));
    case Forecast::RunsOut::NotBeforeEnd:
        return QStringLiteral("At this pace the cap lasts until the period ends.");
    case Forecast::RunsOut::Already:
    case Forecast::RunsOut::Unknown:
        break;
    }
    return {};
}

int level(quint64 used, quint64 cap, const std::vector<int> &warnings) {
    const auto reached = [&](int percent) {
        return static_cast<long double>(used) * 100 >= static_cast<long double>(cap) * percent;
    };
    if (cap == 0)
        return 0;
    if (reached(100))
        return 2;
    return !warnings.empty() && reached(*std::min_element(warnings.begin(), warnings.end())) ? 1
                                                                                             : 0;
}

QString warningTitle(const QString &interfaceName, int percent, const QLocale &locale) {
    return QStringLiteral("%1: %2 % of the data cap used")
        .arg(interfaceName, locale.toString(percent));
}

QString warningText(const State &status, const CapSettings &settings, const QLocale &locale) {
    return QStringLiteral("%1 of %2 (%3 %) %4 %5.")
        .arg(CapRules::amountText(status.used, settings.unit, locale),
             CapRules::amountText(status.cap, settings.unit, locale),
             locale.toString(percentOf(status.used, status.cap)), countedWords(settings.direction),
             spanWords(status.span, locale));
}

QString statusLine(const State &status, const CapSettings &settings, const QLocale &locale) {
    const QString pace = runsOutText(status.runsOut, locale);
    return warningText(status, settings, locale) + (pace.isEmpty() ? QString() : u' ' + pace);
}

} // namespace CapForecast
