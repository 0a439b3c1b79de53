#pragma once

#include "usage/UsageHistory.h"
#include "usage/UsageUnits.h"

#include <array>

#include <QLocale>
#include <QString>

class InterfaceSource;
class UsagePlatform;

// The usage report of `zarn-bandwidth --usage`: today, the days of this
// month and the last twelve months of one interface.
namespace UsageReport {

struct Report {
    QByteArray interfaceName;
    std::vector<UsageTotal> days;   // the first of this month up to today
    std::vector<UsageTotal> months; // the eleven months before this one, and this one
};

Report build(const UsageHistory &history, const QByteArray &interfaceName, QDate today);

// "Today: 2.11 GB received, 351 MB sent" (or "This month: ..."), as the
// Usage window shows it, and the same in whole bytes ("2,107,312,513 bytes
// received, ...").
QString totalLine(const QString &period, const UsageTotal &total, UsageUnits::System system,
                  const QLocale &locale = QLocale());
QString exactLine(const UsageTotal &day, const QLocale &locale = QLocale());
// What a figure of a period before the first record reads.
inline const QString kUnknown = QStringLiteral("-");

// The unit each figure column of a table reads in (received, sent, total):
// that of its largest figure, so that the rows compare at a glance.
std::array<UsageUnits::Unit, 3> columnUnits(const std::vector<UsageTotal> &totals,
                                            UsageUnits::System system);

// The lines the Usage window shows, each column in one readable unit.
QString text(const Report &report, UsageUnits::System system, const QLocale &locale = QLocale());
// Whole byte counts grouped as the main window shows them, for scripts.
QString bytesText(const Report &report, const QLocale &locale = QLocale());
// A name as a user can read and type it: UTF-8 as it is, any other byte as
// \xNN (as the shell's $'...' takes it).
QString shownName(const QByteArray &name);
// {"interface": ..., "days": [{"date", "received", "sent"}...], "months": [...]},
// received and sent null before the first record.
QByteArray json(const Report &report);

struct Request {
    QByteArray interfaceName; // empty: the adapter selected in the window
    bool json = false;
    bool bytes = false;
    UsageUnits::System system = UsageUnits::System::Decimal;
};

// Answers the command line: prints the report on out, or one line on err and
// returns non-zero. Reads the store and the settings, writes nothing.
int run(const Request &request, InterfaceSource &interfaces, UsagePlatform &platform, FILE *out,
        FILE *err);

} // namespace UsageReport
