#include "usage/UsageUnits.h"

#include "monitor/RateText.h"

#include <array>
#include <cmath>

namespace UsageUnits {

namespace {

const std::array<const char *, 5> kDecimal{"B", "kB", "MB", "GB", "TB"};
const std::array<const char *, 5> kBinary{"B", "KiB", "MiB", "GiB", "TiB"};

// Three significant digits: the decimals a figure of this size is written with.
int decimalsFor(double value) {
    return value >= 99.95 ? 0 : value >= 9.995 ? 1 : 2;
}

// How many steps of base up value reads best: the figure, once rounded as it
// is written, stays below one step more. Never beyond last.
int steps(double value, double base, int last) {
    int n = 0;
    while (n < last && value >= base - 0.5) {
        value /= base;
        ++n;
    }
    return n;
}

QString decimal(double value, const QLocale &locale) {
    return locale.toString(value, 'f', decimalsFor(value));
}

} // namespace

Unit unitFor(quint64 bytes, System system) {
    const bool binary = system == System::Binary;
    const auto &names = binary ? kBinary : kDecimal;
    const quint64 base = binary ? 1024 : 1000;
    // Whole bytes round nothing up: below one step they stay bytes.
    const int n = bytes < base ? 0 : steps(double(bytes), double(base), int(names.size()) - 1);
    quint64 factor = 1;
    for (int i = 0; i < n; ++i)
        factor *= base;
    return {factor, QString::fromLatin1(names[size_t(n)])};
}

QString figure(quint64 bytes, const Unit &unit, const QLocale &locale) {
    if (unit.factor <= 1)
        return RateText::wholeNumber(qint64(std::min<quint64>(bytes, quint64(INT64_MAX))), locale);
    return decimal(double(bytes) / double(unit.factor), locale);
}

QString size(quint64 bytes, System system, const QLocale &locale) {
    const Unit unit = unitFor(bytes, system);
    return figure(bytes, unit, locale) + QLatin1Char(' ') + unit.name;
}

namespace {

QString rateText(double bytesPerSecond, RateUnit unit, const QLocale &locale, bool axis) {
    const auto number = [&](double value, const QString &fraction) {
        return axis && value == std::floor(value) ? RateText::wholeNumber(value, locale) : fraction;
    };
    if (unit == RateUnit::KiloBytes) {
        const double kilo = bytesPerSecond / 1000.0;
        return number(kilo, RateText::twoDecimals(kilo, locale)) + QStringLiteral(" k/sec");
    }
    static const std::array<const char *, 3> names{"kbit/s", "Mbit/s", "Gbit/s"};
    double value = std::max(bytesPerSecond, 0.0) * 8.0 / 1000.0;
    const int n = steps(value, 1000.0, int(names.size()) - 1);
    value /= std::pow(1000.0, n);
    return number(value, decimal(value, locale)) + QLatin1Char(' ') +
           QLatin1String(names[size_t(n)]);
}

} // namespace

QString rate(double bytesPerSecond, RateUnit unit, const QLocale &locale) {
    return rateText(bytesPerSecond, unit, locale, false);
}

QString axisRate(double bytesPerSecond, RateUnit unit, const QLocale &locale) {
    return rateText(bytesPerSecond, unit, locale, true);
}

} // namespace UsageUnits
