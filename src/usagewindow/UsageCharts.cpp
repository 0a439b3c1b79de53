#include "usagewindow/UsageCharts.h"

#include "monitor/RateText.h"

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

namespace {

constexpr int kGap = 4;

// A horizontal hair line on the middle of the pixel row at y.
void hairLine(QPainter &p, int left, int right, int y) {
    p.drawLine(QPointF(left, y + 0.5), QPointF(right, y + 0.5));
}

} // namespace

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
        return;
    }
    if (points.empty() || plot != painted_ || !isVisible()) {
        update(plot);
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

QRect RateGraph::plotRect() const {
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
    return rect().adjusted(labels_.width, fm.height() / 2 + 1, -kGap, -(fm.height() + kGap));
}

void RateGraph::paintEvent(QPaintEvent *event) {
    QPainter p(this);
    const QRect plot = plotRect();
    const QFontMetrics fm = fontMetrics();
    if (!plot.contains(event->rect())) {
        p.fillRect(rect(), palette().base());
        p.setPen(palette().windowText().color());
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
    p.setPen(QPen(palette().mid().color(), 1));
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
    QColor fill = colour_;
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
    p.setPen(QPen(colour_, 1));
    p.drawLines(line.constData(), int(line.size()));
}

UsageBars::UsageBars(Label label, QWidget *parent) : QWidget(parent), label_(std::move(label)) {}

bool UsageBars::setTotals(std::vector<UsageTotal> totals) {
    const auto same = [](const UsageTotal &a, const UsageTotal &b) {
        return a.period == b.period && a.received == b.received && a.sent == b.sent;
    };
    if (std::equal(totals.begin(), totals.end(), totals_.begin(), totals_.end(), same))
        return false; // nothing new to paint
    totals_ = std::move(totals);
    update();
    return true;
}

void UsageBars::setSystem(UsageUnits::System system) {
    if (system != system_) {
        system_ = system;
        update();
    }
}

void UsageBars::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    const int lineHeight = fm.height();
    const QRect plot = rect().adjusted(kGap, lineHeight + 2 * kGap, -kGap, -(lineHeight + kGap));
    quint64 top = 0;
    for (const UsageTotal &t : totals_)
        top = std::max({top, t.received, t.sent});
    const double scale = GraphScale::niceCeiling(double(top));

    // The scale on the left, the legend on the right: colour and word for
    // each direction, the sent swatch hatched as its bars are.
    p.setPen(palette().windowText().color());
    const QRect header(kGap, kGap / 2, width() - 2 * kGap, lineHeight);
    p.drawText(header, Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("top line: %1").arg(UsageUnits::size(quint64(scale), system_)));
    const QString sentWord = QStringLiteral("Sent");
    const QString receivedWord = QStringLiteral("Received");
    const int swatch = lineHeight * 2 / 3;
    int x = header.right() - fm.horizontalAdvance(sentWord);
    p.drawText(QPoint(x, header.top() + fm.ascent()), sentWord);
    x -= swatch + kGap;
    const QRect sentSwatch(x, header.center().y() - swatch / 2, swatch, swatch);
    x -= 3 * kGap + fm.horizontalAdvance(receivedWord);
    p.drawText(QPoint(x, header.top() + fm.ascent()), receivedWord);
    x -= swatch + kGap;
    const QRect receivedSwatch(x, sentSwatch.top(), swatch, swatch);
    p.fillRect(receivedSwatch, receivedColour());
    p.fillRect(sentSwatch, palette().base());
    p.fillRect(sentSwatch, QBrush(sentColour(), Qt::BDiagPattern));
    p.setPen(sentColour());
    p.drawRect(sentSwatch.adjusted(0, 0, -1, -1));

    p.fillRect(plot, palette().base());
    p.setPen(QPen(palette().mid().color(), 1));
    for (int y : {plot.top(), plot.center().y(), plot.bottom()})
        hairLine(p, plot.left(), plot.right() + 1, y);
    if (totals_.empty())
        return;

    const int count = int(totals_.size());
    const double slot = double(plot.width()) / count;
    const int barWidth = std::max(1, int((slot - 2) / 2));
    const auto barHeight = [&](quint64 bytes) {
        return int(std::lround(double(bytes) / scale * (plot.height() - 1)));
    };
    // Labels under the bars, as many as fit without running together.
    int widest = 0;
    for (const UsageTotal &t : totals_)
        widest = std::max(widest, fm.horizontalAdvance(label_(t.period)));
    const int every = std::max(1, int(std::ceil((widest + kGap) / slot)));
    for (int i = 0; i < count; ++i) {
        const UsageTotal &t = totals_[i];
        const int left = plot.left() + int(std::lround(i * slot)) + 1;
        const int received = barHeight(t.received);
        const int sent = barHeight(t.sent);
        const QRect receivedBar(left, plot.bottom() - received, barWidth, received);
        const QRect sentBar(left + barWidth, plot.bottom() - sent, barWidth, sent);
        p.fillRect(receivedBar, receivedColour());
        p.fillRect(sentBar, QBrush(sentColour(), Qt::BDiagPattern));
        if (sent > 0) {
            p.setPen(sentColour());
            p.drawRect(sentBar.adjusted(0, 0, -1, -1));
        }
        if (i % every == 0) {
            p.setPen(palette().windowText().color());
            p.drawText(QRect(left - kGap, plot.bottom() + kGap / 2, int(slot) * every, lineHeight),
                       Qt::AlignLeft | Qt::AlignTop, label_(t.period));
        }
    }
}
