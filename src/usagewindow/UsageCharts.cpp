#include "usagewindow/UsageCharts.h"

#include "monitor/RateText.h"
#include "usagewindow/ChartPaint.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVarLengthArray>
#include <algorithm>
#include <cmath>
#include <iterator>

QColor receivedColour() {
    return QColor(0x1f, 0x6f, 0xc5);
}

QColor sentColour() {
    return QColor(0xd9, 0x6c, 0x00);
}

namespace Chart {

QColor lineColour(const QWidget *chart, const QColor &colour) {
    return Contrast::readableOn(colour, chart->palette().base().color(), kLineContrast);
}

QPen gridPen(const QWidget *chart) {
    const QPalette &palette = chart->palette();
    return QPen(Contrast::readableOn(palette.mid().color(), palette.base().color(), kGridContrast),
                1);
}

} // namespace Chart

using namespace Chart;

RateGraph::RateGraph(const RateTrail &trail, double RateTrail::Point::*direction, QColor colour,
                     QWidget *parent)
    : QWidget(parent), trail_(trail), direction_(direction), colour_(colour),
      scale_(currentScale()) {
    // Every pixel is painted below, so a repaint of the plot alone does
    // not have to repaint the tab page beneath it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

double RateGraph::currentScale() const {
    return trail_.scale(direction_, unit_ == UsageUnits::RateUnit::Bits);
}

void RateGraph::setRateUnit(UsageUnits::RateUnit unit) {
    if (unit == unit_)
        return;
    unit_ = unit;
    scale_ = currentScale();
    update();
}

double RateGraph::edgeColumn(const QRect &plot) const {
    const auto &points = trail_.points();
    if (points.empty() || plot.width() <= 0)
        return 0;
    return std::ceil(double(points.back().atMs) * plot.width() / RateTrail::kSpanMs);
}

double RateGraph::xOf(const RateTrail::Point &point, const QRect &plot) const {
    return plot.right() + 1 - (edge_ - double(point.atMs) * plot.width() / RateTrail::kSpanMs);
}

void RateGraph::refresh() {
    const double scale = currentScale();
    const QRect plot = plotRect();
    const auto &points = trail_.points();
    if (scale != scale_) {
        scale_ = scale;
        update(); // the labels, and with them the plot's left edge, move
        if (aligned_)
            aligned_->update(); // and the other graph's with them
        return;
    }
    if (points.empty() || plot != painted_ || !isVisible()) {
        // A plot moved by the other graph's labels leaves a strip beside it.
        update(painted_.left() == plot.left() ? plot : rect());
        return;
    }
    const double edge = edgeColumn(plot);
    const double shift = edge - edge_;
    if (shift < 0 || shift >= plot.width() || points.front().atMs < oldestMs_) {
        update(plot);
        return;
    }
    // The columns of the newest painted segment, from the point before the
    // newest painted one (the line's antialiased cap there changes once the
    // segment is no longer the last) to the right edge, after the move.
    double from = plot.right() + 1;
    int seen = 0;
    for (auto it = points.rbegin(); it != points.rend() && seen < 2; ++it)
        if (it->atMs <= newestMs_) {
            from = xOf(*it, plot) - shift;
            ++seen;
        }
    const int right = int(std::max(std::floor(from) - 2, double(plot.left())));
    // Where the oldest segment left the trail, the full picture shows
    // nothing left of the first point that remains.
    const int left =
        int(std::min(std::ceil(xOf(points.front(), plot) - shift) + 3, double(plot.right())));
    const bool dropped = points.front().atMs != oldestMs_;
    if (shift > 0)
        scroll(-int(shift), 0, plot);
    edge_ = edge;
    oldestMs_ = points.front().atMs;
    newestMs_ = points.back().atMs;
    update(QRect(QPoint(right, plot.top()), plot.bottomRight()));
    if (dropped)
        update(QRect(plot.topLeft(), QPoint(left, plot.bottom())));
}

void RateGraph::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    scale_ = currentScale();
}

void RateGraph::align(RateGraph &a, RateGraph &b) {
    a.aligned_ = &b;
    b.aligned_ = &a;
}

int RateGraph::labelsWidth() const {
    const QFontMetrics fm = fontMetrics();
    // Measured again only when the scale, its unit or the font changed: the
    // tick asks for the plot's place twice per graph, and measuring shapes
    // the texts.
    if (labels_.width < 0 || labels_.scale != scale_ || labels_.unit != unit_ ||
        labels_.font != font()) {
        // The middle label can be the wider one: "0.50 k/sec" under "1 k/sec".
        // The bounding rectangle, not the advance, so that no glyph's overhang
        // is cut at a fractional scale.
        int width = 0;
        for (double value : {scale_, scale_ / 2})
            width = std::max({width, fm.horizontalAdvance(UsageUnits::axisRate(value, unit_)),
                              fm.boundingRect(UsageUnits::axisRate(value, unit_)).width()});
        labels_ = {width + 2 * kGap, scale_, unit_, font()};
    }
    return labels_.width;
}

QRect RateGraph::plotRect() const {
    const QFontMetrics fm = fontMetrics();
    const int left = std::max(labelsWidth(), aligned_ ? aligned_->labelsWidth() : 0);
    return rect().adjusted(left, fm.height() / 2 + 1, -kGap, -(fm.height() + kGap));
}

void RateGraph::paintEvent(QPaintEvent *event) {
    QPainter p(this);
    const QRect plot = plotRect();
    const QFontMetrics fm = fontMetrics();
    if (!plot.contains(event->rect())) {
        p.fillRect(rect(), palette().base());
        p.setPen(palette().text().color());
        const int lineHeight = fm.height();
        const auto axisLabel = [&](const QString &text, int y) {
            p.drawText(QRect(0, y - lineHeight / 2, plot.left() - kGap, lineHeight),
                       Qt::AlignRight | Qt::AlignVCenter, text);
        };
        axisLabel(UsageUnits::axisRate(scale_, unit_), plot.top());
        axisLabel(UsageUnits::axisRate(scale_ / 2, unit_), plot.center().y());
        axisLabel(QStringLiteral("0"), plot.bottom());
        const QRect under(plot.left(), plot.bottom() + kGap / 2, plot.width(), lineHeight);
        p.drawText(under, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("2 min ago"));
        p.drawText(under, Qt::AlignRight | Qt::AlignTop, QStringLiteral("now"));
    }
    // A paint of the whole plot (shown again, resized, a new scale) takes
    // the trail as it stands from here on; the scroll in refresh() moves on
    // from there.
    if (plot != painted_ || (event->region() & plot) == QRegion(plot)) {
        painted_ = plot;
        edge_ = edgeColumn(plot);
        const auto &points = trail_.points();
        oldestMs_ = points.empty() ? 0 : points.front().atMs;
        newestMs_ = points.empty() ? 0 : points.back().atMs;
        paintColumns(p, plot, plot.left(), plot.right());
        return;
    }
    for (const QRect &r : event->region())
        if (const QRect part = r & plot; !part.isEmpty())
            paintColumns(p, plot, part.left(), part.right());
}

void RateGraph::paintColumns(QPainter &p, const QRect &plot, int left, int right) const {
    // Only the points whose segments reach the columns: from the last one
    // left of them to the first one right of them.
    const auto &points = trail_.points();
    auto first = points.begin();
    for (auto it = points.begin(); it != points.end() && xOf(*it, plot) < left - 3; ++it)
        first = it;
    auto last = first;
    while (last != points.end() && xOf(*last, plot) <= right + 3)
        ++last;
    if (last != points.end())
        ++last;
    // Qt's antialiased one-pixel line steps differently from where a clip
    // cuts it. So the segments are drawn whole into a strip of their own,
    // cut nowhere, not even at the plot's edges, and the columns are copied
    // from it: a column shows the same pixels whether the plot was painted
    // whole or scrolled and painted a few columns at a time.
    int from = left;
    int to = right;
    if (first != last) {
        from = std::min(from, int(std::floor(xOf(*first, plot))) - 3);
        to = std::max(to, int(std::ceil(xOf(*std::prev(last), plot))) + 3);
    }
    const QRect strip(QPoint(from, plot.top()), QPoint(to, plot.bottom()));
    QImage image(strip.size(), QImage::Format_RGB32);
    {
        QPainter ip(&image);
        ip.translate(-strip.topLeft());
        drawPlot(ip, plot, strip, first, last);
    }
    p.drawImage(QPoint(left, plot.top()), image,
                QRect(left - strip.left(), 0, right - left + 1, plot.height()));
}

void RateGraph::drawPlot(QPainter &p, const QRect &plot, const QRect &strip, Points::iterator first,
                         Points::iterator last) const {
    p.fillRect(strip, palette().base());
    p.setPen(gridPen(this));
    for (int y : {plot.top(), plot.center().y(), plot.bottom()})
        hairLine(p, plot.left(), plot.right() + 1, y);
    if (first == last)
        return;
    const double height = plot.height() - 1;
    const auto at = [&](const RateTrail::Point &point) {
        const double share = std::clamp(point.*direction_ / scale_, 0.0, 1.0);
        return QPointF(xOf(point, plot), plot.bottom() + 0.5 - share * height);
    };
    // The line breaks where a tick measured nothing; each unbroken run is
    // drawn as its own filled area. A run cut off at first or last is
    // closed outside the columns that are copied.
    QPainterPath area;
    QVarLengthArray<QLineF, 512> line;
    bool inRun = false;
    QPointF runStart;
    QPointF previous;
    const auto closeRun = [&] {
        if (!inRun)
            return;
        area.lineTo(previous.x(), plot.bottom() + 0.5);
        area.lineTo(runStart.x(), plot.bottom() + 0.5);
        area.closeSubpath();
        inRun = false;
    };
    for (auto it = first; it != last; ++it) {
        if (std::isnan((*it).*direction_)) {
            closeRun();
            continue;
        }
        const QPointF point = at(*it);
        if (!inRun) {
            runStart = point;
            area.moveTo(point);
            inRun = true;
        } else {
            area.lineTo(point);
            line.append(QLineF(previous, point));
        }
        previous = point;
    }
    closeRun();
    p.setRenderHint(QPainter::Antialiasing);
    const QColor colour = lineColour(this, colour_);
    QColor fill = colour;
    fill.setAlpha(60);
    // A few rows at a time: Qt hands a fill of more than about a hundred
    // spans to its thread pool in pieces, and for a strip this small the
    // waking and waiting of those threads cost far more than the blending.
    // A clip cuts a fill's spans without moving a pixel.
    constexpr int kBandRows = 16;
    for (int top = strip.top(); top <= strip.bottom(); top += kBandRows) {
        p.setClipRect(QRect(strip.left(), top, strip.width(), kBandRows));
        p.fillPath(area, fill);
    }
    p.setClipping(false);
    // One pixel wide: Qt strokes that on its fast path at 100 %, where
    // a wider pen cost a sixth more CPU per repaint. Segment by segment:
    // Qt's stroke of a whole path lets each segment's pixels depend on the
    // path around it, and a segment must look the same whether the plot is
    // painted whole or only the columns around it.
    p.setPen(QPen(colour, 1));
    p.drawLines(line.constData(), int(line.size()));
}
