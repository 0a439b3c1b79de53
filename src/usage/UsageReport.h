#pragma once

#include "usage/UsageHistory.h"

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

// Byte counts grouped as the windows show them.
QString text(const Report &report, const QLocale &locale = QLocale());
// {"interface": ..., "days": [{"date", "received", "sent"}...], "months": [...]}
QByteArray json(const Report &report);

// Answers the command line: prints the report on out, or one line on err and
// returns non-zero. Reads the store and the settings, writes nothing.
int run(const QString &interfaceName, bool asJson, InterfaceSource &interfaces,
        UsagePlatform &platform, FILE *out, FILE *err);

} // namespace UsageReport
