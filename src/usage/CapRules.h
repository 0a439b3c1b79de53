#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

// The arithmetic of a data cap: which days a period covers, how many bytes
// the cap allows, which warnings a figure has crossed. Plain functions, so
// that calendar corners (the 31st in February, leap years) are checked
// without a clock or a store.
namespace CapRules {

enum class Period { Daily, Monthly };
enum class Unit { GB, GiB };                   // 1000^3 or 1024^3 bytes
enum class Direction { Both, Received, Sent }; // what counts against the cap

// The day in year/month on which a monthly period starts: resetDay, or the
// month's last day when the month is shorter (31 means "the last day").
QDate resetDate(int year, int month, int resetDay);

// First and last day (inclusive) of the period that holds today.
struct Span {
    QDate first;
    QDate last;
    bool operator==(const Span &) const = default;
};
Span periodOf(Period period, int resetDay, QDate today);

// The cap in bytes; 0 for amounts that are not positive or too large.
quint64 capBytes(double amount, Unit unit);

// Bytes that count against the cap.
quint64 counted(Direction direction, quint64 received, quint64 sent);

// The warning percentages reached by used of cap that are not yet in given,
// lowest first.
std::vector<int> newlyCrossed(quint64 used, quint64 cap, const std::vector<int> &percentages,
                              const std::vector<int> &given);

// The percentages typed by the user, separated by blanks, commas,
// semicolons or percent signs ("80, 100", "50% 80% 100%"): whole numbers
// from 1 to 999, sorted, once each. nullopt when the text holds none, or
// anything else.
std::optional<std::vector<int>> readPercentages(const QString &text);
QString percentagesText(const std::vector<int> &percentages); // "80 100"

// Bytes as "12.35 GB" or "12.35 GiB" under the locale, the way the windows
// write their decimals.
QString amountText(quint64 bytes, Unit unit, const QLocale &locale = QLocale());

} // namespace CapRules
