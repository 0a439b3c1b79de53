#pragma once

#include "usage/Forecast.h"
#include "usage/UsageSettings.h"

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QTimeZone>

class UsageHistory;

// Where a data cap stands and where it is heading, for the Data cap page,
// the cap line and `--usage --cap`: one reading of the history serves all.
namespace CapForecast {

struct State {
    CapRules::Span span;
    quint64 used = 0;
    quint64 cap = 0;
    Forecast::RunsOut runsOut;
};

// The period holding today, what counts against the cap in it, and when
// the cap runs out at the pace of the period so far or of the seven days
// before today, whichever is faster. One read of the history covers both.
State read(const UsageHistory &history, const QByteArray &name, const CapSettings &settings,
           QDate today, qint64 now, const QTimeZone &zone = QTimeZone::systemTimeZone());

// The present moment on the clock's day: now, or this time of day on a
// day a caller (a test) chose.
qint64 nowOn(QDate today, const QTimeZone &zone = QTimeZone::systemTimeZone());

// "At this pace the cap is used up on 21 Dec.", "At this pace the cap lasts
// until the period ends."; empty when used up already or too early to say.
QString runsOutText(const Forecast::RunsOut &runsOut, const QLocale &locale = QLocale());

// The notification's texts for a warning at percent; the title starts with
// the interface's name, since a cap is watched on one of several.
QString warningTitle(const QString &interfaceName, int percent, const QLocale &locale = QLocale());
QString warningText(const State &state, const CapSettings &settings,
                    const QLocale &locale = QLocale());
// The warning's text and, after it, when the cap runs out at this pace.
QString statusLine(const State &state, const CapSettings &settings,
                   const QLocale &locale = QLocale());

// 0 below the lowest warning percentage, 1 at or past it, 2 at or past 100 %.
int level(quint64 used, quint64 cap, const std::vector<int> &warnings);

} // namespace CapForecast
