#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <optional>

// Text conversions the options and settings use. Numbers follow the user's
// locale: blanks around, sign, group separators, decimal separator, exponent.
// A text that does not convert, or a number outside the type, gives nullopt:
// the caller falls back to its default.
namespace Conversions {

// The numeric test: the value of text, or nullopt when it is not a number.
std::optional<double> textToNumber(const QString &text, const QLocale &locale = QLocale());

// "True"/"False" in any letter case, or a number (zero is false).
std::optional<bool> textToFlag(const QString &text, const QLocale &locale = QLocale());

// A fraction goes to the nearest integer, a half to the even neighbour.
std::optional<qint16> textToInt16(const QString &text, const QLocale &locale = QLocale());
std::optional<qint32> textToInt32(const QString &text, const QLocale &locale = QLocale());

// Plain decimal digits, a minus sign when negative, no leading space.
QString intToText(qint64 value);

// The form the "Adapter" setting is stored in: one leading space when the
// number is not negative (" 2", "-1").
QString adapterToText(qint32 index);

} // namespace Conversions
