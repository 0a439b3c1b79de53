#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <Qt>
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

// A number without a fraction ("7", " 7 ", "1e3", "7.0") that fits 32 bits;
// nullopt for "1.5" and everything textToInt32 refuses. Stored indexes and
// states are whole numbers: a fraction in one was not written by this
// program, and rounding it would act on a value nobody chose.
std::optional<qint32> textToWholeInt32(const QString &text, const QLocale &locale = QLocale());

// Plain decimal digits, a minus sign when negative, no leading space.
QString intToText(qint64 value);

// The form the "Adapter" setting is stored in: one leading space when the
// number is not negative (" 2", "-1").
QString adapterToText(qint32 index);

// The form the "AdapterName" setting is stored in. Interface names are bytes
// (any but '/', ':', blanks and NUL), so one that is not UTF-8 is stored with
// %XX escapes; textToInterfaceName gives back exactly the bytes it was given.
QString interfaceNameToText(const QByteArray &name);
QByteArray textToInterfaceName(const QString &text);

// Check-box states as the settings store them: "0" clear, "1" ticked, "2"
// greyed. Qt numbers its states differently (Checked is 2), so every state
// that reaches or leaves the store goes through these two.
QString checkStateToText(Qt::CheckState state);
// The stored state text as a whole number; nullopt when it does not convert,
// has a fraction, or names no state (outside 0 to 2).
std::optional<Qt::CheckState> textToCheckState(const QString &text,
                                               const QLocale &locale = QLocale());

// The update frequency in milliseconds that a text stands for, when it is
// numeric and between 1 and 60000 inclusive (a fraction rounds half to even).
inline constexpr double kMinFrequency = 1;
inline constexpr double kMaxFrequency = 60000;
enum class FrequencyCheck { Ok, NotNumeric, OutOfRange };
struct Frequency {
    FrequencyCheck check = FrequencyCheck::NotNumeric;
    qint32 interval = 0; // valid when check is Ok
};
Frequency checkFrequency(const QString &text, const QLocale &locale = QLocale());

} // namespace Conversions
