#pragma once

#include <QColor>

// Colours picked against the background they are drawn on, so that a light
// and a dark desktop palette both show them: a fixed blue that reads well on
// light grey all but vanishes on dark grey.
namespace Contrast {

// How far apart two colours are to the eye: the ratio of their relative
// luminances (each plus 0.05), from 1 (the same) to 21 (black on white), as
// the web's accessibility guidelines measure it.
double ratio(const QColor &a, const QColor &b);

// colour in its own hue and saturation, made just light enough (on a dark
// background) or dark enough (on a light one) to stand minimum apart from
// background; colour itself where it does already.
QColor readableOn(const QColor &colour, const QColor &background, double minimum);

} // namespace Contrast
