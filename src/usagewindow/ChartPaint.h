#pragma once

#include "ui/Contrast.h"

#include <QPainter>
#include <QWidget>

// What the live graph and the bars paint alike.
namespace Chart {

constexpr int kGap = 4;

// How far the lines, bars and hair lines stand from the chart's background.
// A one-pixel line needs more than a filled shape; the hair lines only have
// to be seen. A dark palette may give its mid (the hair lines) within a
// shade of its base, and the blue chosen for white all but fades on dark
// grey.
constexpr double kLineContrast = 4.0;
constexpr double kGridContrast = 1.6;

// A direction's colour as drawn on the chart's base.
QColor lineColour(const QWidget *chart, const QColor &colour);
QPen gridPen(const QWidget *chart);

// A horizontal hair line on the middle of the pixel row at y.
inline void hairLine(QPainter &p, int left, int right, int y) {
    p.drawLine(QPointF(left, y + 0.5), QPointF(right, y + 0.5));
}

} // namespace Chart
