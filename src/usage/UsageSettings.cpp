#include "usage/UsageSettings.h"

#include "settings/Registry.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <utility>

namespace {

const QString kEnabled = QStringLiteral("DataCapEnabled");
const QString kPeriod = QStringLiteral("DataCapPeriod");
const QString kResetDay = QStringLiteral("DataCapResetDay");
const QString kAmount = QStringLiteral("DataCapAmount");
const QString kUnit = QStringLiteral("DataCapUnit");
const QString kCounts = QStringLiteral("DataCapCounts");
const QString kWarnings = QStringLiteral("DataCapWarnings");
const QString kGiven = QStringLiteral("DataCapWarningsGiven");
const QString kLeft = QStringLiteral("UsageWindowLeft");
const QString kTop = QStringLiteral("UsageWindowTop");
const QString kSizes = QStringLiteral("UsageWindowSizes");
const QString kRates = QStringLiteral("UsageWindowRates");

// The words an enum is stored as, in the enum's order.
template <typename E, std::size_t N> using Words = std::array<std::pair<E, const char *>, N>;
constexpr Words<CapRules::Period, 2> kPeriodWords{
    {{CapRules::Period::Daily, "daily"}, {CapRules::Period::Monthly, "monthly"}}};
constexpr Words<CapRules::Unit, 2> kUnitWords{
    {{CapRules::Unit::GB, "GB"}, {CapRules::Unit::GiB, "GiB"}}};
constexpr Words<CapRules::Direction, 3> kDirectionWords{
    {{CapRules::Direction::Both, "both"},
     {CapRules::Direction::Received, "received"},
     {CapRules::Direction::Sent, "sent"}}};
constexpr Words<UsageUnits::System, 2> kSizeWords{
    {{UsageUnits::System::Decimal, "1000"}, {UsageUnits::System::Binary, "1024"}}};
constexpr Words<UsageUnits::RateUnit, 2> kRateWords{
    {{UsageUnits::RateUnit::KiloBytes, "k/sec"}, {UsageUnits::RateUnit::Bits, "bits"}}};

template <typename E, std::size_t N>
E readWord(const QString &name, const Words<E, N> &words, E fallback) {
    const QString text = Registry::readSetting(name, QString());
    for (const auto &[value, word] : words)
        if (text == QLatin1String(word))
            return value;
    return fallback;
}

template <typename E, std::size_t N> QString wordOf(const Words<E, N> &words, E value) {
    for (const auto &[v, word] : words)
        if (v == value)
            return QLatin1String(word);
    return QString();
}

std::optional<int> readInt(const QString &name, int low, int high) {
    bool ok = false;
    const int value = Registry::readSetting(name, QString()).trimmed().toInt(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

} // namespace

namespace UsageSettings {

CapSettings readCap() {
    CapSettings s;
    s.enabled = Registry::readSetting(kEnabled, QStringLiteral("0")).trimmed() == u'1';
    s.period = readWord(kPeriod, kPeriodWords, s.period);
    s.resetDay = readInt(kResetDay, 1, 31).value_or(s.resetDay);
    bool ok = false;
    const double amount = Registry::readSetting(kAmount, QString()).trimmed().toDouble(&ok);
    if (ok && CapRules::capBytes(amount, CapRules::Unit::GiB) > 0)
        s.amount = amount;
    s.unit = readWord(kUnit, kUnitWords, s.unit);
    s.direction = readWord(kCounts, kDirectionWords, s.direction);
    if (const auto warnings = CapRules::readPercentages(Registry::readSetting(kWarnings, {})))
        s.warnings = *warnings;
    return s;
}

void writeCap(const CapSettings &s, const CapSettings &before) {
    if (s.enabled != before.enabled)
        Registry::writeSetting(kEnabled, s.enabled ? QStringLiteral("1") : QStringLiteral("0"));
    if (s.period != before.period)
        Registry::writeSetting(kPeriod, wordOf(kPeriodWords, s.period));
    if (s.resetDay != before.resetDay)
        Registry::writeSetting(kResetDay, QString::number(s.resetDay));
    if (s.amount != before.amount)
        Registry::writeSetting(kAmount, QString::number(s.amount, 'g', 15));
    if (s.unit != before.unit)
        Registry::writeSetting(kUnit, wordOf(kUnitWords, s.unit));
    if (s.direction != before.direction)
        Registry::writeSetting(kCounts, wordOf(kDirectionWords, s.direction));
    if (s.warnings != before.warnings)
        Registry::writeSetting(kWarnings, CapRules::percentagesText(s.warnings));
}

std::vector<GivenWarnings> readGiven(const CapSettings &current) {
    // "2026-12-01 2026-12-31 50000000000 both 80 100; ...": each cap's first
    // and last day, bytes and direction, then what was given. An older
    // version kept one: "2026-12-01 80 100".
    std::vector<GivenWarnings> out;
    const QString text = Registry::readSetting(kGiven, QString());
    for (const QString &entry : text.split(u';', Qt::SkipEmptyParts)) {
        QStringList words = entry.split(u' ', Qt::SkipEmptyParts);
        GivenWarnings g;
        const QDate first = QDate::fromString(words.value(0), Qt::ISODate);
        const QDate last = QDate::fromString(words.value(1), Qt::ISODate);
        bool ok = true;
        if (last.isValid()) {
            g = {{first, last}, words.value(2).toULongLong(&ok), {}, {}};
            const auto at = std::find_if(kDirectionWords.begin(), kDirectionWords.end(),
                                         [&](const auto &w) { return words.value(3) == w.second; });
            ok = ok && at != kDirectionWords.end();
            g.direction = ok ? at->first : g.direction;
            words = words.mid(4);
        } else {
            g = {CapRules::periodOf(current.period, current.resetDay, first),
                 current.capBytes(),
                 current.direction,
                 {}};
            words = words.mid(1);
        }
        const auto percentages = CapRules::readPercentages(words.join(u' '));
        if (ok && first.isValid() && g.span.first == first && percentages) {
            g.percentages = *percentages;
            out.push_back(g);
        }
    }
    return out;
}

void writeGiven(const std::vector<GivenWarnings> &given) {
    QStringList entries;
    for (const GivenWarnings &g : given)
        entries << QStringLiteral("%1 %2 %3 %4 %5")
                       .arg(g.span.first.toString(Qt::ISODate), g.span.last.toString(Qt::ISODate),
                            QString::number(g.cap), wordOf(kDirectionWords, g.direction),
                            CapRules::percentagesText(g.percentages));
    Registry::writeSetting(kGiven, entries.join(QStringLiteral("; ")));
}

UsageUnits::System readSizeChoice() {
    return readWord(kSizes, kSizeWords, UsageUnits::System::Decimal);
}

void writeSizeChoice(UsageUnits::System system) {
    Registry::writeSetting(kSizes, wordOf(kSizeWords, system));
}

UsageUnits::System sizeSystem() {
    const CapSettings cap = readCap();
    return cap.enabled && cap.unit == CapRules::Unit::GiB ? UsageUnits::System::Binary
                                                          : readSizeChoice();
}

UsageUnits::RateUnit readRateUnit() {
    return readWord(kRates, kRateWords, UsageUnits::RateUnit::KiloBytes);
}

void writeRateUnit(UsageUnits::RateUnit unit) {
    Registry::writeSetting(kRates, wordOf(kRateWords, unit));
}

std::optional<QPoint> readWindowPosition() {
    const auto left = readInt(kLeft, -100000, 100000);
    const auto top = readInt(kTop, -100000, 100000);
    if (!left || !top)
        return std::nullopt;
    return QPoint(*left, *top);
}

void writeWindowPosition(QPoint position) {
    Registry::writeSetting(kLeft, QString::number(position.x()));
    Registry::writeSetting(kTop, QString::number(position.y()));
}

} // namespace UsageSettings
