#pragma once

#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <span>
#include <vector>

// The last two minutes of rates behind the live graph, and the rules that
// pick its scales. Kept apart from any widget so that the rules can be
// checked with made-up times.
namespace GraphScale {

// The smallest full scale that holds value: 1, 2 or 5 times a power of
// ten, never below 1000 (1 k/sec for a rate), so that an idle link does not
// magnify single packets into a wall of noise.
double niceCeiling(double value);

} // namespace GraphScale

class RateTrail {
public:
    static constexpr qint64 kSpanMs = 120000; // what the graph shows

    struct Point {
        qint64 atMs; // on a monotonic clock
        double down; // bytes per second; NaN where the tick measured nothing
        double up;
    };

    // A tick's rates at time atMs; points older than the span drop out.
    void add(qint64 atMs, double down, double up);
    // A tick that measured nothing: the line breaks here.
    void addGap(qint64 atMs);
    void clear();

    std::span<const Point> points() const {
        return {points_.data() + first_, points_.size() - first_};
    }
    bool empty() const { return first_ == points_.size(); }

    // Each direction has its own scale, set by the highest rate still on
    // the graph: it rises with a new peak at once and comes down only once
    // that peak has scrolled out.
    // In bits, the steps are those of bits per second (1, 2, 5 Mbit/s).
    double downScale(bool bits = false) const { return scale(&Point::down, bits); }
    double upScale(bool bits = false) const { return scale(&Point::up, bits); }
    double scale(double Point::*direction, bool bits) const {
        const double factor = bits ? 8.0 : 1.0;
        return GraphScale::niceCeiling(peak(direction) * factor) / factor;
    }

private:
    double peak(double Point::*direction) const;
    // The points from first_ on. Those that left the span are removed in
    // one move once they fill half the buffer, which keeps its capacity: a
    // tick adds a point without an allocation.
    std::vector<Point> points_;
    std::size_t first_ = 0;
};
