// Writes the application icon as SVG and as PNGs of the usual theme sizes,
// from the same painter code the program draws its window icon with, so the
// installed icon and the window icon can never drift apart.
#include "ui/Images.h"

#include <QDir>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QSvgGenerator>
#include <climits>
#include <cstdio>

namespace {

// The icon draws its card in perspective. SVG has no perspective transform,
// and QSvgGenerator turns every shape drawn under one into a bitmap. This
// engine takes the drawing instead and hands each shape to the real painter
// already mapped through the full transform, as a plain filled outline:
// outlines are stroked before mapping, so line widths recede with the card
// exactly as they do on screen. Solid fills and pens only, which is all the
// icon uses; anything else marks the export as failed.
class FlatteningEngine final : public QPaintEngine {
public:
    explicit FlatteningEngine(QPainter *target) : QPaintEngine(AllFeatures), target_(target) {}

    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override {}
    Type type() const override { return User; }
    bool failed() const { return failed_; }

    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override { failed_ = true; }
    void drawTextItem(const QPointF &, const QTextItem &) override { failed_ = true; }

    void drawPath(const QPainterPath &path) override { emitShape(path, true); }

    void drawPolygon(const QPointF *points, int count, PolygonDrawMode mode) override {
        QPainterPath path;
        path.addPolygon(QPolygonF(QList<QPointF>(points, points + count)));
        if (mode != PolylineMode)
            path.closeSubpath();
        path.setFillRule(mode == WindingMode ? Qt::WindingFill : Qt::OddEvenFill);
        emitShape(path, mode != PolylineMode);
    }

    void drawRects(const QRectF *rects, int count) override {
        for (int i = 0; i < count; ++i) {
            QPainterPath path;
            path.addRect(rects[i]);
            emitShape(path, true);
        }
    }

private:
    void emitShape(const QPainterPath &path, bool fill) {
        const QTransform transform = state->transform();
        const QBrush brush = state->brush();
        const QPen pen = state->pen();
        if (fill && brush.style() != Qt::NoBrush) {
            failed_ |= brush.style() != Qt::SolidPattern;
            target_->fillPath(transform.map(path), brush);
        }
        if (pen.style() != Qt::NoPen) {
            failed_ |= pen.brush().style() != Qt::SolidPattern || pen.isCosmetic();
            QPainterPathStroker stroker(pen);
            target_->fillPath(transform.map(stroker.createStroke(path)), pen.brush());
        }
    }

    QPainter *target_;
    bool failed_ = false;
};

class FlatteningDevice final : public QPaintDevice {
public:
    FlatteningDevice(QPainter *target, QSize size) : engine_(target), size_(size) {}
    QPaintEngine *paintEngine() const override { return &engine_; }
    bool failed() const { return engine_.failed(); }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return size_.width();
        case PdmHeight:
            return size_.height();
        case PdmWidthMM:
            return size_.width() * 254 / 960;
        case PdmHeightMM:
            return size_.height() * 254 / 960;
        case PdmNumColors:
            return INT_MAX;
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    mutable FlatteningEngine engine_;
    QSize size_;
};

} // namespace

int main(int argc, char *argv[]) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: export-icons OUTPUT-DIR ICON-NAME\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    const QIcon icon = Images::windowIcon();

    const QString svgDir = out + QStringLiteral("/scalable/apps");
    QDir().mkpath(svgDir);
    QSvgGenerator svg;
    svg.setFileName(svgDir + QLatin1Char('/') + name + QStringLiteral(".svg"));
    svg.setSize(QSize(64, 64));
    svg.setViewBox(QRect(0, 0, 64, 64));
    svg.setTitle(QStringLiteral("Zarn Bandwidth"));
    {
        QPainter target(&svg);
        target.setRenderHint(QPainter::Antialiasing);
        target.setPen(Qt::NoPen);
        FlatteningDevice flat(&target, QSize(64, 64));
        {
            QPainter p(&flat);
            Images::paintWindowIcon(p, 64, 64);
        }
        if (flat.failed()) {
            std::fprintf(stderr, "export-icons: the icon uses more than solid shapes\n");
            return 1;
        }
    }

    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = out + QStringLiteral("/%1x%1/apps").arg(size);
        QDir().mkpath(dir);
        if (!icon.pixmap(size, size).save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) {
            std::fprintf(stderr, "export-icons: cannot write %dx%d\n", size, size);
            return 1;
        }
    }
    return 0;
}
