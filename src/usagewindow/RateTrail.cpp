#include "usagewindow/RateTrail.h"

#include "monitor/RateText.h"

#include <cmath>

namespace GraphScale {

namespace {
constexpr double kFloor = 1000.0;
} // namespace

double niceCeiling(double rate) {
    if (!(rate > kFloor)) // NaN and idle links alike
        return kFloor;
    // A decade at a time with exact decimal steps: 1, 2, 5, 10, 20, 50 ...
    // computed as whole multiples so that 1e6 is not 999,999.9999.
    double decade = kFloor;
    while (decade * 10.0 < rate && decade < 1e18)
        decade *= 10.0;
    for (double step : {1.0, 2.0, 5.0, 10.0})
        if (decade * step >= rate)
            return decade * step;
    return decade * 10.0;
}

} // namespace GraphScale

void RateTrail::add(qint64 atMs, double down, double up) {
    points_.push_back({atMs, down, up});
    while (first_ < points_.size() && points_[first_].atMs < atMs - kSpanMs)
        ++first_;
    if (first_ * 2 >= points_.size()) {
        points_.erase(points_.begin(), points_.begin() + std::ptrdiff_t(first_));
        first_ = 0;
    }
}

void RateTrail::addGap(qint64 atMs) {
    // One gap marks the break; a row of them would only fill the buffer.
    if (!points_.empty() && std::isnan(points_.back().down))
        return;
    add(atMs, std::nan(""), std::nan(""));
}

void RateTrail::clear() {
    points_.clear();
    first_ = 0;
}

double RateTrail::peak(double Point::*direction) const {
    double top = 0;
    for (const Point &p : points())
        if (p.*direction > top) // NaN compares false
            top = p.*direction;
    return top;
}
