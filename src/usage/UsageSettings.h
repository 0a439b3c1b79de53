#pragma once

#include "usage/CapRules.h"
#include "usage/UsageUnits.h"

#include <QDate>
#include <QPoint>
#include <optional>
#include <vector>

// The Usage window's settings, in the program's one settings file under
// names of their own. They are written in C-locale text, so that a file
// reads the same whatever locale the next start runs under; a value that
// does not read back as expected counts as absent.
struct CapSettings {
    bool enabled = false;
    CapRules::Period period = CapRules::Period::Monthly;
    int resetDay = 1;
    double amount = 50;
    CapRules::Unit unit = CapRules::Unit::GB;
    CapRules::Direction direction = CapRules::Direction::Both;
    std::vector<int> warnings{80, 100};

    quint64 capBytes() const { return CapRules::capBytes(amount, unit); }
    bool operator==(const CapSettings &) const = default;
};

// The warnings already given for one cap in one period. A cap is its size
// and what it counts, in the days it covers: switched to another and back,
// it has given what it had given.
struct GivenWarnings {
    CapRules::Span span;
    quint64 cap = 0; // bytes
    CapRules::Direction direction = CapRules::Direction::Both;
    std::vector<int> percentages;

    bool sameCap(const GivenWarnings &o) const {
        return span == o.span && cap == o.cap && direction == o.direction;
    }
};

namespace UsageSettings {

CapSettings readCap();
// Writes the values that differ from before, each under its own name.
void writeCap(const CapSettings &settings, const CapSettings &before);

// What was given, for caps whose period has not ended; a list stored by an
// older version counts as given for current, the cap it then had.
std::vector<GivenWarnings> readGiven(const CapSettings &current);
void writeGiven(const std::vector<GivenWarnings> &given);

// The units the window and the report give sizes and rates in. Sizes are
// binary when chosen so, or when the data cap is counted in GiB.
UsageUnits::System readSizeChoice();
void writeSizeChoice(UsageUnits::System system);
UsageUnits::System sizeSystem();
UsageUnits::RateUnit readRateUnit();
void writeRateUnit(UsageUnits::RateUnit unit);

std::optional<QPoint> readWindowPosition();
void writeWindowPosition(QPoint position);

} // namespace UsageSettings
