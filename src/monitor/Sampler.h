#pragma once

#include "monitor/TrayPicture.h"

#include <QtGlobal>
#include <optional>

// The arithmetic of the sampling tick, free of widgets: totals from counter
// readings, counter wraps and resets, rates, the quiet test, the top rate,
// the automatic threshold candidates and the load levels.
//
// Every function that could overflow or divide by zero returns nullopt
// instead; the tick then ends quietly at that point.
namespace Sampler {

// One full turn of a 32-bit counter.
inline constexpr qint64 kWrapSpan = Q_INT64_C(4294967296);

// A counter reading folded into a running total.
struct Fold {
    qint64 total = 0;
    qint64 wraps = 0;   // wrap count after this reading
    bool reset = false; // a 64-bit counter fell: the reading is a fresh baseline
};

// A 32-bit counter (counterBits 32) is extended by its wrap count, and a fall
// below the previous total counts as one more wrap. Wider counters never
// wrap, so a fall means the counter was reset: no wrap is counted and the
// reading becomes the new baseline.
std::optional<Fold> foldCounter(quint64 counter, int counterBits, qint64 wraps, qint64 prevTotal);

// One direction of one tick, after the fold.
struct Direction {
    qint64 total = 0;
    qint64 prev = 0;        // total at the end of the last completed tick
    bool measuring = false; // there is an earlier reading, and time to divide by
    bool reset = false;

    bool hasRate() const { return measuring && !reset; }
    bool quiet() const { return !measuring || reset || total == prev; }
    // Bytes moved since the last completed tick; a reset moved nothing we know of.
    qint64 difference() const { return reset ? 0 : total - prev; }
};

// A gap between two readings longer than this many intervals, and longer
// than kGapFloorMs, breaks the series: the machine slept, or the program was
// stopped. The floor keeps short intervals from breaking on an ordinary
// scheduling delay of a loaded machine; the factor keeps long intervals
// (up to a minute) from breaking on every tick.
inline constexpr int kGapIntervals = 5;
inline constexpr double kGapFloorMs = 5000;

// The milliseconds between two clock readings (nanoseconds) that a rate is
// divided by; nullopt when none passed, the clock went back, or the gap
// breaks the series.
std::optional<double> elapsedMs(qint64 prevNs, qint64 nowNs, int intervalMs);

// difference x 1000 / elapsed milliseconds, in bytes per second. The product
// is exact; only the division is done in floating point.
std::optional<double> rate(qint64 difference, double elapsedMs);

// The larger difference as a rate, rounded to whole bytes per second with
// halves going to the even neighbour.
std::optional<qint64> topRate(qint64 downDifference, qint64 upDifference, double elapsedMs);

// One and two thirds of the top rate, in kbyte/sec.
struct Candidates {
    double yellow = 0;
    double red = 0;
};
std::optional<Candidates> thresholdCandidates(qint64 topRate);

// Whether an automatic threshold replaces the text of its box. value is the
// box's text read as a number (nullopt when it is not one); empty tells an
// empty box from other text that is not a number. Thresholds only go up.
bool raisesThreshold(bool empty, std::optional<double> value, double candidate, qint64 topRate,
                     bool autoAdjust);

// None when nothing moved, whatever the thresholds (a red threshold of 0.00
// must not paint an idle direction red); else Red at or above red, Yellow at
// or above yellow, Green below both. The red test comes first on purpose, so
// a red threshold below the yellow one still wins.
LoadLevel loadLevel(double rateKilo, double red, double yellow);

// The tray's picture for a tick that moved bytes: each direction's level
// against the thresholds, or the idle picture while either threshold is not
// a number. nullopt when a rate overflows.
std::optional<TrayPicture> trayPicture(qint64 downDifference, qint64 upDifference, double elapsedMs,
                                       std::optional<double> red, std::optional<double> yellow);

} // namespace Sampler
