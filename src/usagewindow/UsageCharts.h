#pragma once

#include "usage/UsageHistory.h"
#include "usage/UsageUnits.h"
#include "usagewindow/RateTrail.h"

#include <QColor>
#include <QFont>
#include <QWidget>
#include <functional>
#include <vector>

// The two charts of the Usage window, painted with QPainter. Lines and bars
// sit on whole logical pixels (hair lines on their middle), so they stay
// sharp at 100 % and 200 % scaling alike.

// One direction of the live graph: the last two minutes of rates, scrolling
// to the left, under a scale of its own.
class RateGraph final : public QWidget {
public:
    RateGraph(const RateTrail &trail, double RateTrail::Point::*direction, QColor colour,
              QWidget *parent = nullptr);

    // A new point is on the trail. The plot keeps its picture and moves it
    // left by whole pixel columns; only the columns at the right end that
    // the new segment touches, and those at the left end where the oldest
    // segment left the trail, are painted again. A moved scale repaints
    // the whole graph, labels included.
    void refresh();
    double scale() const { return scale_; }
    // The unit of the scale's labels, and of its steps.
    void setRateUnit(UsageUnits::RateUnit unit);
    UsageUnits::RateUnit rateUnit() const { return unit_; }
    // Where the rates are drawn; the scale's labels fit to its left, and to
    // those of the graph it is aligned with, so that both time axes start
    // at one x.
    QRect plotRect() const;
    // Two graphs, one above the other, that share where their plots start.
    static void align(RateGraph &a, RateGraph &b);

    QSize sizeHint() const override { return {420, 120}; }
    QSize minimumSizeHint() const override { return {240, 80}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    // Ticks that came while the graph was out of sight moved no scale.
    void showEvent(QShowEvent *event) override;

private:
    double currentScale() const;
    int labelsWidth() const; // with the gap to the plot
    // The column of the plot's right edge: the newest point's time in
    // whole columns, so that a point's x moves by whole pixels from one
    // picture to the next and a scrolled picture is the one a full paint
    // would make.
    double edgeColumn(const QRect &plot) const;
    double xOf(const RateTrail::Point &point, const QRect &plot) const;
    // The plot's background, hair lines and the trail's segments that reach
    // into columns [left, right], clipped to them.
    void paintColumns(QPainter &p, const QRect &plot, int left, int right) const;
    using Points = std::span<const RateTrail::Point>;
    void drawPlot(QPainter &p, const QRect &plot, const QRect &strip, Points::iterator first,
                  Points::iterator last) const;

    const RateTrail &trail_;
    double RateTrail::Point::*direction_;
    QColor colour_;
    double scale_ = 0;
    // What the plot's pixels show: the edge column, the plot and the trail's
    // oldest and newest points they were painted with.
    double edge_ = 0;
    QRect painted_;
    qint64 oldestMs_ = 0;
    qint64 newestMs_ = 0;
    UsageUnits::RateUnit unit_ = UsageUnits::RateUnit::KiloBytes;
    // The width of the scale's labels, and what it was measured for.
    struct LabelsWidth {
        int width = -1;
        double scale = 0;
        UsageUnits::RateUnit unit = UsageUnits::RateUnit::KiloBytes;
        QFont font;
    };
    mutable LabelsWidth labels_;
    RateGraph *aligned_ = nullptr;
};

// Received and sent bytes of a row of hours, days or months, side by side, the
// received bar left and solid, the sent bar right and hatched, under a
// legend that names both.
class UsageBars final : public QWidget {
public:
    using Label = std::function<QString(const UsageTotal &)>;
    explicit UsageBars(Label label, QWidget *parent = nullptr);

    // False when the totals are the ones already shown.
    bool setTotals(std::vector<UsageTotal> totals);
    // The units of the top line's size.
    void setSystem(UsageUnits::System system);
    UsageUnits::System system() const { return system_; }
    const std::vector<UsageTotal> &totals() const { return totals_; }
    // The size the top line stands for: a round figure in the unit it is
    // written in (500 MiB, not the 477 MiB that 500 MB make).
    static quint64 topLine(quint64 largest, UsageUnits::System system);

    QSize sizeHint() const override { return {420, 150}; }
    QSize minimumSizeHint() const override { return {240, 100}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Label label_;
    std::vector<UsageTotal> totals_;
    UsageUnits::System system_ = UsageUnits::System::Decimal;
};

// The colours of the two directions, shared by graph, bars and legends, as
// chosen for a light background; each chart draws them as light or dark as
// its palette's background needs.
QColor receivedColour();
QColor sentColour();
