#include "monitor/Sampler.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Sampler {

std::optional<Fold> foldCounter(quint64 counter, int counterBits, qint64 wraps, qint64 prevTotal) {
    Fold fold;
    fold.wraps = wraps;
    if (counterBits == 32) {
        fold.total = qint64(counter & Q_UINT64_C(0xFFFFFFFF));
        if (wraps > 0) {
            qint64 extension = 0;
            if (__builtin_mul_overflow(wraps, kWrapSpan, &extension) ||
                __builtin_add_overflow(fold.total, extension, &fold.total))
                return std::nullopt;
        }
        if (fold.total < prevTotal) {
            if (__builtin_add_overflow(fold.total, kWrapSpan, &fold.total) ||
                __builtin_add_overflow(fold.wraps, 1, &fold.wraps))
                return std::nullopt;
        }
        return fold;
    }
    if (counter > quint64(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    fold.total = qint64(counter);
    fold.reset = fold.total < prevTotal;
    return fold;
}

std::optional<double> elapsedMs(qint64 prevNs, qint64 nowNs, int intervalMs) {
    qint64 ns = 0;
    if (__builtin_sub_overflow(nowNs, prevNs, &ns) || ns <= 0)
        return std::nullopt;
    const double ms = double(ns) / 1e6;
    if (ms > std::max(kGapFloorMs, double(kGapIntervals) * double(intervalMs)))
        return std::nullopt;
    return ms;
}

std::optional<double> rate(qint64 difference, double elapsedMs) {
    qint64 product = 0;
    if (!(elapsedMs > 0) || __builtin_mul_overflow(difference, qint64(1000), &product))
        return std::nullopt;
    return double(product) / elapsedMs;
}

std::optional<qint64> topRate(qint64 downDifference, qint64 upDifference, double elapsedMs) {
    const qint64 larger = downDifference > upDifference ? downDifference : upDifference;
    const auto r = rate(larger, elapsedMs);
    if (!r)
        return std::nullopt;
    // nearbyint follows the default rounding mode, round-half-even.
    const double rounded = std::nearbyint(*r);
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    if (!(rounded < 9223372036854775808.0 && rounded >= -9223372036854775808.0))
        return std::nullopt;
    return qint64(rounded);
}

std::optional<Candidates> thresholdCandidates(qint64 topRate) {
    qint64 doubled = 0;
    if (__builtin_mul_overflow(topRate, qint64(2), &doubled))
        return std::nullopt;
    return Candidates{double(topRate) / 3000.0, double(doubled) / 3000.0};
}

bool raisesThreshold(bool empty, std::optional<double> value, double candidate, qint64 topRate,
                     bool autoAdjust) {
    if (!autoAdjust)
        return false;
    if (empty)
        return topRate != 0;
    return value && *value < candidate;
}

LoadLevel loadLevel(double rateKilo, double red, double yellow) {
    if (rateKilo == 0)
        return LoadLevel::None;
    if (rateKilo >= red)
        return LoadLevel::Red;
    if (rateKilo >= yellow)
        return LoadLevel::Yellow;
    return LoadLevel::Green;
}

std::optional<TrayPicture> trayPicture(qint64 downDifference, qint64 upDifference, double elapsedMs,
                                       std::optional<double> red, std::optional<double> yellow) {
    if (!red || !yellow)
        return TrayPicture::idle();
    const auto upRate = rate(upDifference, elapsedMs);
    const auto downRate = rate(downDifference, elapsedMs);
    if (!upRate || !downRate)
        return std::nullopt;
    return TrayPicture{loadLevel(*upRate / 1000.0, *red, *yellow),
                       loadLevel(*downRate / 1000.0, *red, *yellow)};
}

} // namespace Sampler
