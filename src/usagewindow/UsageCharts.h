#pragma once

#include "usage/UsageHistory.h"
#include "usage/UsageUnits.h"
#include "usagewindow/RateTrail.h"

#include <QColor>
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

    // A new point is on the trail: repaints the plot, and the axis labels
    // as well only when the scale moved.
    void refresh();
    double scale() const { return scale_; }
    // The unit of the scale's labels, and of its steps.
    void setRateUnit(UsageUnits::RateUnit unit);
    // Where the rates are drawn; the scale's labels fit to its left.
    QRect plotRect() const;

    QSize sizeHint() const override { return {420, 120}; }
    QSize minimumSizeHint() const override { return {240, 80}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    // Ticks that came while the graph was out of sight moved no scale.
    void showEvent(QShowEvent *event) override;

private:
    double currentScale() const;

    const RateTrail &trail_;
    double RateTrail::Point::*direction_;
    QColor colour_;
    double scale_ = 0;
    UsageUnits::RateUnit unit_ = UsageUnits::RateUnit::KiloBytes;
};

// Received and sent bytes of a row of days or months, side by side, the
// received bar left and solid, the sent bar right and hatched, under a
// legend that names both.
class UsageBars final : public QWidget {
public:
    using Label = std::function<QString(const QDate &)>;
    explicit UsageBars(Label label, QWidget *parent = nullptr);

    // False when the totals are the ones already shown.
    bool setTotals(std::vector<UsageTotal> totals);
    // The units of the top line's size.
    void setSystem(UsageUnits::System system);
    const std::vector<UsageTotal> &totals() const { return totals_; }

    QSize sizeHint() const override { return {420, 150}; }
    QSize minimumSizeHint() const override { return {240, 100}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Label label_;
    std::vector<UsageTotal> totals_;
    UsageUnits::System system_ = UsageUnits::System::Decimal;
};

// The colours of the two directions, shared by graph, bars and legends.
QColor receivedColour();
QColor sentColour();
