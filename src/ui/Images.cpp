#include "ui/Images.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace {

using PaintFn = std::function<void(QPainter &, const QRectF &)>;

// Paints at whatever size is asked for, so the icon is sharp on every tray
// host and at every device pixel ratio.
class PaintedIconEngine final : public QIconEngine {
public:
    explicit PaintedIconEngine(PaintFn paint) : paint_(std::move(paint)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        paint_(*painter, QRectF(rect));
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QIconEngine *clone() const override { return new PaintedIconEngine(paint_); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

private:
    PaintFn paint_;
};

QIcon painted(PaintFn fn) {
    return QIcon(new PaintedIconEngine(std::move(fn)));
}

QColor fillColour(LoadLevel level) {
    switch (level) {
    case LoadLevel::Red:
        return QColor(255, 0, 0);
    case LoadLevel::Yellow:
        return QColor(255, 255, 0);
    case LoadLevel::Green:
        return QColor(0, 255, 0);
    case LoadLevel::None:
        break;
    }
    return Qt::transparent;
}

// A vertical arrow in a 16 x 16 grid, scaled to the target rectangle.
QPainterPath arrowPath(double left, bool up) {
    QPainterPath path;
    const double w = 7;
    if (up) {
        path.moveTo(left + w / 2, 1);
        path.lineTo(left + w, 7);
        path.lineTo(left + w * 0.7, 7);
        path.lineTo(left + w * 0.7, 15);
        path.lineTo(left + w * 0.3, 15);
        path.lineTo(left + w * 0.3, 7);
        path.lineTo(left, 7);
    } else {
        path.moveTo(left + w / 2, 15);
        path.lineTo(left + w, 9);
        path.lineTo(left + w * 0.7, 9);
        path.lineTo(left + w * 0.7, 1);
        path.lineTo(left + w * 0.3, 1);
        path.lineTo(left + w * 0.3, 9);
        path.lineTo(left, 9);
    }
    path.closeSubpath();
    return path;
}

void paintArrow(QPainter &p, const QPainterPath &path, const QColor &fill) {
    p.fillPath(path, fill);
    p.setPen(QPen(QColor(64, 64, 64), 1.0));
    p.drawPath(path.translated(0.5, 0.5));
    p.setPen(QPen(Qt::white, 0.8));
    p.drawPath(path);
}

} // namespace

namespace Images {

QIcon trayIcon(TrayPicture picture) {
    return painted([picture](QPainter &p, const QRectF &r) {
        p.scale(r.width() / 16.0, r.height() / 16.0);
        paintArrow(p, arrowPath(0.5, true), fillColour(picture.up));
        paintArrow(p, arrowPath(8.5, false), fillColour(picture.down));
    });
}

QIcon windowIcon() {
    return painted([](QPainter &p, const QRectF &r) {
        p.scale(r.width() / 16.0, r.height() / 16.0);
        p.setPen(QPen(QColor(0, 80, 0), 0.6));
        p.setBrush(QColor(0, 160, 60));
        p.drawRect(QRectF(1, 4, 12, 8));
        p.setBrush(QColor(200, 200, 200));
        p.drawRect(QRectF(13, 3, 2, 11));
        p.setBrush(QColor(230, 190, 40));
        for (int i = 0; i < 5; ++i)
            p.drawRect(QRectF(2.5 + i * 2, 12, 1, 2));
    });
}

QIcon monitorTabIcon() {
    return trayIcon({LoadLevel::Red, LoadLevel::Red});
}

QIcon optionsTabIcon() {
    return painted([](QPainter &p, const QRectF &r) {
        p.scale(r.width() / 16.0, r.height() / 16.0);
        p.setPen(QPen(Qt::black, 0.5));
        p.setBrush(QColor(160, 160, 160));
        p.drawEllipse(QPointF(6, 6), 4.5, 4.5);
        p.setBrush(QColor(240, 200, 0));
        p.drawEllipse(QPointF(11, 11), 3.5, 3.5);
    });
}

QIcon adapterTabIcon() {
    return windowIcon();
}

QIcon miniUpArrow() {
    return painted([](QPainter &p, const QRectF &r) {
        p.scale(r.width() / 16.0, r.height() / 16.0);
        paintArrow(p, arrowPath(4.5, true), Qt::transparent);
    });
}

QIcon miniDownArrow() {
    return painted([](QPainter &p, const QRectF &r) {
        p.scale(r.width() / 16.0, r.height() / 16.0);
        paintArrow(p, arrowPath(4.5, false), Qt::transparent);
    });
}

} // namespace Images
