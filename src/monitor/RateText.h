#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <optional>

// Every text the sampling tick shows, under the user's locale (digit groups,
// decimal separator). Both formats round to their last digit with halves
// going away from zero, judged on the number as it is written in decimal, so
// 12.345 shows as 12.35 although the nearest double lies just below it.
namespace RateText {

// Whole number with digits grouped in threes ("###,###,###,##0").
QString wholeNumber(qint64 value, const QLocale &locale = QLocale());
QString wholeNumber(double value, const QLocale &locale = QLocale());

// The number wholeNumber(double) writes, as an integer; nullopt for values it
// writes beyond what an integer holds exactly.
std::optional<qint64> roundedWhole(double value);

// Exactly two decimals, no digit groups ("0.00").
QString twoDecimals(double value, const QLocale &locale = QLocale());

// A label or text box read as a number by the locale's rules, including the
// digit groups wholeNumber puts in. nullopt when the text is not a number.
std::optional<double> readNumber(const QString &text, const QLocale &locale = QLocale());

// Bytes per second as kbyte/sec text, for the mini window and the tip.
QString kiloText(qint64 bytesPerSecond, const QLocale &locale = QLocale());

// A figure as its label shows it: blank when there is none, a rate rounded
// to whole bytes per second.
QString figureText(std::optional<qint64> bytes);
QString figureText(std::optional<double> bytesPerSecond);

// The tray tip: both rates in k/sec when wanted and both are whole numbers,
// the product name otherwise.
QString trayTip(std::optional<qint64> down, std::optional<qint64> up, bool showBandwidth,
                bool multiLine, const QLocale &locale = QLocale());

// Decimal rounding of value to the given number of decimals, halves away from
// zero, as plain C-locale text ("-12.35", "3"). Exposed for the tests.
QString roundDecimal(double value, int decimals);

} // namespace RateText
