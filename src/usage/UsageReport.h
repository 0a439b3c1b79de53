#pragma once

#include "usage/CapForecast.h"
#include "usage/UsageHistory.h"
#include "usage/UsageUnits.h"

#include <array>
#include <optional>

#include <QLocale>
#include <QString>

class InterfaceSource;
class UsagePlatform;

// The usage report of `zarn-bandwidth --usage`: today, the days of this
// month and the last twelve months of one interface, its last hours, top
// days and years, where today and this month are heading, and the cap.
namespace UsageReport {

struct Cap {
    CapSettings settings;
    CapForecast::State state;
};

struct Report {
    QByteArray interfaceName;
    std::vector<UsageTotal> days;       // the first of this month up to today
    std::vector<UsageTotal> months;     // the eleven months before this one, and this one
    std::vector<UsageTotal> hours = {}; // the last 24, the current one last
    std::vector<UsageTotal> top = {};   // the ten busiest days on record
    std::vector<UsageTotal> years = {}; // from the first record's year to this one
    // Today's and this month's bytes, both ways, at the pace so far.
    std::optional<quint64> todayEstimate = {}, monthEstimate = {};
    std::optional<Cap> cap = {}; // while a cap is set
};

constexpr int kHours = 24;
constexpr int kTopDays = 10;

// now: UTC seconds on today; cap: the cap's settings while one is set;
// records: the busiest days and the years as well, which read every row of
// the interface.
Report build(const UsageHistory &history, const QByteArray &interfaceName, QDate today, qint64 now,
             const std::optional<CapSettings> &cap = std::nullopt, bool records = true,
             const QTimeZone &zone = QTimeZone::systemTimeZone());

// "Today: 2.11 GB received, 351 MB sent" (or "This month: ..."), as the
// Usage window shows it, and the same in whole bytes ("2,107,312,513 bytes
// received, ...").
QString totalLine(const QString &period, const UsageTotal &total, UsageUnits::System system,
                  const QLocale &locale = QLocale());
QString exactLine(const UsageTotal &day, const QLocale &locale = QLocale());
// The bytes of the days first to last at the pace so far, from total (what
// they moved up to now); none when the interface's first record is not
// before today (nothing earlier to compare with), and as Forecast::estimate.
std::optional<quint64> estimate(const UsageTotal &total, QDate first, QDate last, QDate firstRecord,
                                QDate today, qint64 now,
                                const QTimeZone &zone = QTimeZone::systemTimeZone());
// What follows that line while the period runs: "; about 96.0 GB by 31 Dec"
// (by: the period's last day; invalid: today, "by midnight"); empty
// without an estimate.
QString estimateText(std::optional<quint64> estimate, QDate by, UsageUnits::System system,
                     const QLocale &locale = QLocale());
// What a figure of a period before the first record reads.
inline const QString kUnknown = QStringLiteral("-");

// The unit each figure column of a table reads in (received, sent, total):
// that of its largest figure, so that the rows compare at a glance.
std::array<UsageUnits::Unit, 3> columnUnits(const std::vector<UsageTotal> &totals,
                                            UsageUnits::System system);

// Which table a report prints: the whole report (today, days, months), or
// one table alone.
enum class Table { Report, Hours, Months, Top, Years };

// The lines the Usage window shows, each column in one readable unit.
QString text(const Report &report, UsageUnits::System system, const QLocale &locale = QLocale(),
             Table table = Table::Report);
// Whole byte counts grouped as the main window shows them, for scripts.
QString bytesText(const Report &report, const QLocale &locale = QLocale(),
                  Table table = Table::Report);
// One table as CSV for spreadsheets: a header row, then one row per period
// with its ISO date (or hour, month, year) and whole bytes; empty figures
// before the first record. The whole report gives its days.
QByteArray csv(const Report &report, Table table);
// A table's periods as the text, the CSV and the JSON write them.
QString periodText(const UsageTotal &total, Table table);
// A name as a user can read and type it: UTF-8 as it is, any other byte as
// \xNN (as the shell's $'...' takes it).
QString shownName(const QByteArray &name);
// {"interface": ..., "days": [{"date", "received", "sent"}...], "months": [...],
// "hours": [{"hour": "2026-12-08T14:00", ...}], "top": [...], "years": [...],
// "cap": {"size", "used", "start", "end", "levels", "forecast"} or null},
// received and sent null before the first record; forecast: the day the cap
// is used up at this pace, null when not before the period ends or not known.
QByteArray json(const Report &report);

struct Request {
    QByteArray interfaceName; // empty: the adapter selected in the window
    bool json = false;
    bool bytes = false;
    UsageUnits::System system = UsageUnits::System::Decimal;
    bool csv = false;
    Table table = Table::Report;
    bool cap = false; // only the cap's state, in one line
};

// The cap's state and where it is heading, as the Usage window says it.
QString capLine(const Report &report, const QLocale &locale = QLocale());

// What `--usage --cap` exits with, for scripts.
enum CapExit { UnderWarnings = 0, PastWarning = 1, UsedUp = 2, NoCap = 3 };

// Answers the command line: prints the report on out, or one line on err and
// returns non-zero (with cap: a CapExit). Reads the store and the settings, writes nothing.
int run(const Request &request, InterfaceSource &interfaces, UsagePlatform &platform, FILE *out,
        FILE *err);

} // namespace UsageReport
