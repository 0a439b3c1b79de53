#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>

// How the Usage window and the usage report write amounts and rates: one
// readable unit per figure, as providers and other meters give them, with
// the exact byte count kept for tooltips and the JSON.
namespace UsageUnits {

// kB, MB, GB, TB in powers of 1000 (the cap's GB), or KiB, MiB, GiB, TiB in
// powers of 1024 (the cap's GiB).
enum class System { Decimal, Binary };

struct Unit {
    quint64 factor = 1;
    QString name; // "B", "kB", "MiB" ...
};

// The unit bytes read best in: the largest one whose figure, rounded as
// figure() writes it, is at least 1 and stays below the next unit (so that
// 999,950,000 bytes read "1.00 GB", never "1000 MB").
Unit unitFor(quint64 bytes, System system);

// bytes in unit, with three significant digits (whole bytes for "B"; four
// digits from 1000 of a binary unit), under the locale.
QString figure(quint64 bytes, const Unit &unit, const QLocale &locale = QLocale());

// figure() and the unit's name: "2.11 GB".
QString size(quint64 bytes, System system, const QLocale &locale = QLocale());

// Rates as the live graph shows them: k/sec (1000 bytes, two decimals, as
// the mini window), or bits as providers sell them (kbit/s below 1 Mbit/s,
// Mbit/s above, Gbit/s from 1000 Mbit/s; three significant digits).
enum class RateUnit { KiloBytes, Bits };
QString rate(double bytesPerSecond, RateUnit unit, const QLocale &locale = QLocale());
// The same for a scale's label: a whole figure without decimals, and digit
// groups ("2,000 k/sec", "5 Mbit/s").
QString axisRate(double bytesPerSecond, RateUnit unit, const QLocale &locale = QLocale());

} // namespace UsageUnits
