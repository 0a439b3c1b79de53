#include "ui/Images.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTransform>
#include <QtMath>
#include <functional>
#include <vector>

namespace {

// Paints a picture of w x h device pixels onto a transparent image.
using RenderFn = std::function<void(QPainter &, int w, int h)>;

QImage renderImage(const RenderFn &render, QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (size.isEmpty())
        return image;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    render(p, size.width(), size.height());
    return image;
}

// Disabled pictures keep their shape but lose their colour and half their
// strength, as the platform does for bitmap icons.
QImage disabled(QImage image) {
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
        }
    }
    return image;
}

// Every picture is drawn by code at the exact device size it is asked for:
// the edges are placed on whole device pixels, so the pictures stay crisp on
// every tray host, at every size and at every device pixel ratio.
class PaintedIconEngine final : public QIconEngine {
public:
    explicit PaintedIconEngine(RenderFn render) : render_(std::move(render)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode,
               QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = pixmap((QSizeF(rect.size()) * ratio).toSize(), mode, state);
        pm.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, pm);
    }

    // The last picture drawn is kept: a tray host paints the same icon at
    // the same size again and again.
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override {
        if (cached_.isNull() || cachedSize_ != size || cachedMode_ != mode) {
            QImage image = renderImage(render_, size);
            if (mode == QIcon::Disabled)
                image = disabled(image);
            cached_ = QPixmap::fromImage(image);
            cachedSize_ = size;
            cachedMode_ = mode;
        }
        return cached_;
    }

    QIconEngine *clone() const override { return new PaintedIconEngine(render_); }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

private:
    RenderFn render_;
    QPixmap cached_;
    QSize cachedSize_;
    QIcon::Mode cachedMode_ = QIcon::Normal;
};

QIcon painted(RenderFn render) {
    return QIcon(new PaintedIconEngine(std::move(render)));
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

const QColor kBevelLight(255, 255, 255);
const QColor kBevelDark(128, 128, 128);

// The arrows are pixel art, drawn cell by cell at the size asked for: their
// straight edges and 45 degree slopes stay sharp at every size, and their
// bodies keep the exact load colours (no blending at the edges).
class PixelShape {
public:
    PixelShape(int width, int height)
        : width_(width), height_(height), cells_(std::size_t(width) * height, false) {}

    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < width_ && y < height_ && cells_[y * width_ + x];
    }

    // A vertical arrow filling the box: a head with 45 degree sides as wide
    // as the box, and a centred shaft about half as wide.
    void addArrow(const QRect &box, bool up) {
        const int w = box.width();
        int shaft = w / 2;
        if ((w - shaft) % 2 != 0)
            ++shaft;
        const int side = (w - shaft) / 2;
        const int head = (w + 1) / 2;
        for (int row = 0; row < box.height(); ++row) {
            const int fromTip = up ? row : box.height() - 1 - row;
            int first = side, last = side + shaft - 1;
            if (fromTip < head) {
                first = (w % 2 == 0) ? w / 2 - 1 - fromTip : w / 2 - fromTip;
                last = w - 1 - first;
            }
            for (int x = first; x <= last; ++x)
                set(box.left() + x, box.top() + row);
        }
    }

    // Whether a cell lies within `depth` cells of the outside, looking
    // sideways by dx and vertically by dy: left and up, or right and down.
    bool nearOutside(int x, int y, int dx, int dy, int depth) const {
        for (int k = 1; k <= depth; ++k)
            if (!at(x + k * dx, y) || !at(x, y + k * dy))
                return true;
        return false;
    }

    bool nearEdge(int x, int y, int depth) const {
        return nearOutside(x, y, -1, -1, depth) || nearOutside(x, y, 1, 1, depth);
    }

    int width() const { return width_; }
    int height() const { return height_; }

private:
    void set(int x, int y) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            cells_[y * width_ + x] = true;
    }

    int width_, height_;
    std::vector<bool> cells_;
};

int bandWidth(int size) {
    return qMax(1, qRound(size / 16.0));
}

// A raised outline one band wide inside the shape, lit from the top left as
// the platform's 3-D controls are: cells facing right or down are in shadow,
// cells facing up or left are lit; the rest is the body.
QImage bevelled(const PixelShape &shape, const QColor &fill, int band) {
    QImage image(shape.width(), shape.height(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < shape.height(); ++y)
        for (int x = 0; x < shape.width(); ++x) {
            if (!shape.at(x, y))
                continue;
            if (shape.nearOutside(x, y, 1, 1, band))
                image.setPixelColor(x, y, kBevelDark);
            else if (shape.nearOutside(x, y, -1, -1, band))
                image.setPixelColor(x, y, kBevelLight);
            else if (fill.alpha() > 0)
                image.setPixelColor(x, y, fill);
        }
    return image;
}

void paintTrayPicture(QPainter &p, int w, int h, TrayPicture picture) {
    const int n = qMin(w, h);
    const QPoint origin((w - n) / 2, (h - n) / 2);
    const int column = n / 2;
    PixelShape up(n, n), down(n, n);
    up.addArrow(QRect(0, 0, column, n), true);
    down.addArrow(QRect(n - column, 0, column, n), false);
    p.drawImage(origin, bevelled(up, fillColour(picture.up), bandWidth(n)));
    p.drawImage(origin, bevelled(down, fillColour(picture.down), bandWidth(n)));
}

// A hollow arrow: a black outer line and a white inner line, nothing inside.
void paintHollowArrow(QPainter &p, int w, int h, bool up) {
    const int n = qMin(w, h);
    int width = qRound(n * 0.625);
    if ((n - width) % 2 != 0)
        ++width;
    PixelShape shape(n, n);
    shape.addArrow(QRect((n - width) / 2, 0, width, n), up);
    const int band = bandWidth(n);
    QImage image(n, n, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            if (!shape.at(x, y))
                continue;
            if (shape.nearEdge(x, y, band))
                image.setPixelColor(x, y, Qt::black);
            else if (shape.nearEdge(x, y, 2 * band))
                image.setPixelColor(x, y, Qt::white);
        }
    p.drawImage(QPoint((w - n) / 2, (h - n) / 2), image);
}

// A gear wheel: teeth around a rim, a hole in the middle.
QPainterPath gear(QPointF centre, double outer, double inner, double hole, int teeth) {
    QPolygonF rim;
    const int steps = teeth * 4;
    for (int i = 0; i < steps; ++i) {
        const double angle = 2 * M_PI * (i - 0.5) / steps;
        const double r = (i % 4 < 2) ? outer : inner;
        rim << centre + QPointF(r * std::cos(angle), r * std::sin(angle));
        const double next = 2 * M_PI * (i + 0.5) / steps;
        rim << centre + QPointF(r * std::cos(next), r * std::sin(next));
    }
    QPainterPath path;
    path.addPolygon(rim);
    path.closeSubpath();
    QPainterPath axle;
    axle.addEllipse(centre, hole, hole);
    return path.subtracted(axle);
}

void paintGears(QPainter &p, int w, int h) {
    p.scale(w / 16.0, h / 16.0);
    const double line = 16.0 / qMin(w, h) * 0.9;
    p.setPen(QPen(QColor(48, 48, 48), line));
    p.setBrush(QColor(168, 168, 168));
    p.drawPath(gear({6.0, 6.0}, 5.6, 4.2, 1.6, 8));
    p.setPen(QPen(QColor(120, 90, 0), line));
    p.setBrush(QColor(255, 210, 0));
    p.drawPath(gear({11.4, 11.4}, 4.2, 3.1, 1.2, 7));
}

// The parts of a network card laid flat on a 24 x 14 board: the edge
// connector along the bottom, chips, the network jack behind the bracket.
void paintBoard(QPainter &p, double line) {
    p.setPen(QPen(QColor(0, 70, 0), line));
    p.setBrush(QColor(0, 150, 40));
    QPolygonF board({{0, 0}, {24, 0}, {24, 11}, {18, 11}, {18, 12.5}, {2, 12.5}, {2, 11}, {0, 11}});
    p.drawPolygon(board);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 185, 30));
    for (double x = 3; x < 17.5; x += 2)
        p.drawRect(QRectF(x, 11, 1.1, 1.5));
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(4, 3, 6, 5));
    p.drawRect(QRectF(12.5, 4, 3.5, 3));
    p.setBrush(QColor(0, 200, 70));
    p.drawRect(QRectF(1.5, 1.2, 20, 0.8));
}

void paintBracket(QPainter &p, const QPolygonF &bracket, const QPolygonF &jack, double line) {
    p.setPen(QPen(QColor(70, 70, 70), line));
    p.setBrush(QColor(200, 200, 205));
    p.drawPolygon(bracket);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    p.drawPolygon(jack);
}

// The window picture: the card seen at an angle, its bracket standing up at
// the far end.
void paintAdapterAngled(QPainter &p, int w, int h) {
    p.scale(w / 32.0, h / 32.0);
    const double line = 32.0 / qMin(w, h);
    QTransform view;
    // Flat board corners (0,0) (24,0) (24,12.5) (0,12.5) to a receding view.
    QTransform::quadToQuad(QPolygonF({{0, 0}, {24, 0}, {24, 12.5}, {0, 12.5}}),
                           QPolygonF({{1, 15}, {22, 6}, {26, 17}, {5, 28}}), view);
    p.save();
    p.setTransform(view, true);
    paintBoard(p, line / 1.4);
    p.restore();
    paintBracket(p, QPolygonF({{22, 2}, {25.5, 1}, {30, 19}, {27, 22}, {27.5, 30}, {26, 30.5}}),
                 QPolygonF({{24, 8}, {26.5, 7}, {27.5, 11}, {25, 12}}), line);
}

// The tab picture: the same card seen from the front.
void paintAdapterFlat(QPainter &p, int w, int h) {
    p.scale(w / 16.0, h / 16.0);
    const double line = 16.0 / qMin(w, h) * 0.8;
    p.save();
    p.translate(0.5, 3);
    p.scale(12.5 / 24.0, 11 / 12.5);
    paintBoard(p, line * 1.9);
    p.restore();
    paintBracket(p, QPolygonF({{13, 0.5}, {15.5, 0.5}, {15.5, 15.5}, {13, 15.5}}),
                 QPolygonF({{13.6, 4}, {15, 4}, {15, 7}, {13.6, 7}}), line);
}

} // namespace

namespace Images {

QIcon trayIcon(TrayPicture picture) {
    return painted([picture](QPainter &p, int w, int h) { paintTrayPicture(p, w, h, picture); });
}

QIcon windowIcon() {
    return painted(paintAdapterAngled);
}

void paintWindowIcon(QPainter &painter, int width, int height) {
    paintAdapterAngled(painter, width, height);
}

QIcon monitorTabIcon() {
    return trayIcon({LoadLevel::Red, LoadLevel::Red});
}

QIcon optionsTabIcon() {
    return painted(paintGears);
}

QIcon adapterTabIcon() {
    return painted(paintAdapterFlat);
}

QIcon miniUpArrow() {
    return painted([](QPainter &p, int w, int h) { paintHollowArrow(p, w, h, true); });
}

QIcon miniDownArrow() {
    return painted([](QPainter &p, int w, int h) { paintHollowArrow(p, w, h, false); });
}

} // namespace Images
