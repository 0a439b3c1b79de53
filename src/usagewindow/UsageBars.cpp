// The bars of the Hours, Days and Months pages.
#include "usagewindow/ChartPaint.h"
#include "usagewindow/RateTrail.h"
#include "usagewindow/UsageCharts.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

using namespace Chart;

UsageBars::UsageBars(Label label, QWidget *parent) : QWidget(parent), label_(std::move(label)) {}

bool UsageBars::setTotals(std::vector<UsageTotal> totals) {
    const auto same = [](const UsageTotal &a, const UsageTotal &b) {
        return a.period == b.period && a.hour == b.hour && a.received == b.received &&
               a.sent == b.sent && a.known == b.known;
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

quint64 UsageBars::topLine(quint64 largest, UsageUnits::System system) {
    const UsageUnits::Unit unit = UsageUnits::unitFor(largest, system);
    if (unit.factor <= 1)
        return quint64(GraphScale::niceCeiling(double(largest)));
    // In thousandths of the unit: the steps of 1, 2 and 5 start at 1000.
    const double f = double(unit.factor) / 1000;
    return quint64(GraphScale::niceCeiling(double(largest) / f) * f);
}

void UsageBars::paintEvent(QPaintEvent *) {
    QPainter p(this);
    const QFontMetrics fm = fontMetrics();
    const int lineHeight = fm.height();
    const QRect plot = rect().adjusted(kGap, lineHeight + 2 * kGap, -kGap, -(lineHeight + kGap));
    quint64 top = 0;
    for (const UsageTotal &t : totals_)
        top = std::max({top, t.received, t.sent});
    const double scale = double(topLine(top, system_));
    const QColor received = lineColour(this, receivedColour());
    const QColor sent = lineColour(this, sentColour());

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
    p.fillRect(receivedSwatch, received);
    p.fillRect(sentSwatch, palette().base());
    p.fillRect(sentSwatch, QBrush(sent, Qt::BDiagPattern));
    p.setPen(sent);
    p.drawRect(sentSwatch.adjusted(0, 0, -1, -1));

    p.fillRect(plot, palette().base());
    p.setPen(gridPen(this));
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
        widest = std::max(widest, fm.horizontalAdvance(label_(t)));
    const int every = std::max(1, int(std::ceil((widest + kGap) / slot)));
    for (int i = 0; i < count; ++i) {
        const UsageTotal &t = totals_[i];
        const int left = plot.left() + int(std::lround(i * slot)) + 1;
        const int receivedHeight = barHeight(t.received);
        const int sentHeight = barHeight(t.sent);
        const QRect receivedBar(left, plot.bottom() - receivedHeight, barWidth, receivedHeight);
        const QRect sentBar(left + barWidth, plot.bottom() - sentHeight, barWidth, sentHeight);
        p.fillRect(receivedBar, received);
        p.fillRect(sentBar, QBrush(sent, Qt::BDiagPattern));
        if (sentHeight > 0) {
            p.setPen(sent);
            p.drawRect(sentBar.adjusted(0, 0, -1, -1));
        }
        if (i % every == 0) {
            p.setPen(palette().windowText().color());
            p.drawText(QRect(left - kGap, plot.bottom() + kGap / 2, int(slot) * every, lineHeight),
                       Qt::AlignLeft | Qt::AlignTop, label_(t));
        }
    }
}
