#include "ui/Contrast.h"

#include <cmath>

namespace Contrast {

namespace {

double luminance(const QColor &c) {
    const auto linear = [](float channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = c.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

} // namespace

double ratio(const QColor &a, const QColor &b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableOn(const QColor &colour, const QColor &background, double minimum) {
    if (ratio(colour, background) >= minimum)
        return colour;
    // Towards white where white stands further from the background, else
    // towards black; the least change of lightness that is enough, found by
    // halving (a dozen steps reach 1/4096 of the range).
    const bool lighter = ratio(Qt::white, background) >= ratio(Qt::black, background);
    const QColor hsl = colour.toHsl();
    const auto at = [&](double lightness) {
        return QColor::fromHslF(hsl.hslHueF(), hsl.hslSaturationF(), float(lightness)).toRgb();
    };
    double enough = lighter ? 1.0 : 0.0; // white or black: the best there is
    double short_ = hsl.lightnessF();
    for (int step = 0; step < 12; ++step) {
        const double middle = (enough + short_) / 2;
        (ratio(at(middle), background) >= minimum ? enough : short_) = middle;
    }
    return at(enough);
}

} // namespace Contrast
