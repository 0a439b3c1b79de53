#include "support/Harness.h"
#include "ui/Images.h"

#include <QPainter>
#include <QSet>
#include <QtTest>

namespace {

const LoadLevel kLevels[] = {LoadLevel::Red, LoadLevel::Yellow, LoadLevel::Green, LoadLevel::None};
const int kSizes[] = {16, 22, 24, 32, 48};

QImage render(const QIcon &icon, int size, qreal ratio = 1.0) {
    return icon.pixmap(QSize(size, size), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

QRgb fillOf(LoadLevel level) {
    switch (level) {
    case LoadLevel::Red:
        return qRgb(255, 0, 0);
    case LoadLevel::Yellow:
        return qRgb(255, 255, 0);
    case LoadLevel::Green:
        return qRgb(0, 255, 0);
    case LoadLevel::None:
        break;
    }
    return 0;
}

// The row where one half of the picture is widest from its first to its last
// drawn pixel: the base of an arrow head.
int widestRow(const QImage &image, int fromX, int toX) {
    int best = -1, bestWidth = 0;
    for (int y = 0; y < image.height(); ++y) {
        int first = toX, last = fromX - 1;
        for (int x = fromX; x < toX; ++x)
            if (qAlpha(image.pixel(x, y)) > 0) {
                first = qMin(first, x);
                last = x;
            }
        const int width = last - first + 1;
        if (width > bestWidth) {
            bestWidth = width;
            best = y;
        }
    }
    return best;
}

} // namespace

class ImagesTest : public QObject {
    Q_OBJECT

private slots:
    void trayPictures_data() {
        columns<int, int, int, qreal>({"up", "down", "size", "ratio"});
        for (LoadLevel up : kLevels)
            for (LoadLevel down : kLevels) {
                const QString name = TrayPicture{up, down}.name();
                for (int size : kSizes)
                    QTest::addRow("%s@%d", qPrintable(name), size)
                        << int(up) << int(down) << size << 1.0;
                QTest::addRow("%s@16x2", qPrintable(name)) << int(up) << int(down) << 16 << 2.0;
            }
    }
    void trayPictures() {
        QFETCH(int, up);
        QFETCH(int, down);
        QFETCH(int, size);
        QFETCH(qreal, ratio);
        const QImage image =
            render(Images::trayIcon({LoadLevel(up), LoadLevel(down)}), size, ratio);
        const int n = qRound(size * ratio);
        QCOMPARE(image.size(), QSize(n, n));

        // Transparent background.
        for (QPoint corner :
             {QPoint(0, 0), QPoint(n - 1, 0), QPoint(0, n - 1), QPoint(n - 1, n - 1)})
            QCOMPARE(qAlpha(image.pixel(corner)), 0);

        // Only the outline's white and dark grey and the two exact fills:
        // no blended edges, no other colours.
        const QRgb upFill = fillOf(LoadLevel(up)), downFill = fillOf(LoadLevel(down));
        const QSet<QRgb> allowed = {qRgb(255, 255, 255), qRgb(128, 128, 128), upFill, downFill};
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const QRgb pixel = image.pixel(x, y);
                QVERIFY2(qAlpha(pixel) == 0 || allowed.contains(pixel), "blended or foreign pixel");
            }
        // The middle of each shaft shows the fill, or nothing for an empty arrow.
        QCOMPARE(image.pixel(n / 4, n * 3 / 4), upFill ? upFill : 0u);
        QCOMPARE(image.pixel(n - 1 - n / 4, n / 4), downFill ? downFill : 0u);

        // The left arrow's head is at the top, the right arrow's at the bottom.
        QVERIFY(widestRow(image, 0, n / 2) < n / 2);
        QVERIFY(widestRow(image, n - n / 2, n) > n / 2);
    }

    // Widgets draw icons through QIcon::paint; on a high-density screen the
    // picture must be drawn at device resolution, not scaled up.
    void paintAtDeviceResolution() {
        const QIcon icon = Images::trayIcon({LoadLevel::Green, LoadLevel::Yellow});
        for (qreal ratio : {1.0, 1.5, 2.0}) {
            const int n = qRound(16 * ratio);
            QImage target(n, n, QImage::Format_ARGB32_Premultiplied);
            target.setDevicePixelRatio(ratio);
            target.fill(Qt::transparent);
            {
                QPainter p(&target);
                icon.paint(&p, QRect(0, 0, 16, 16));
            }
            target.setDevicePixelRatio(1.0);
            QCOMPARE(target.convertToFormat(QImage::Format_ARGB32), render(icon, n));
        }
    }

    // The other pictures: present at every size, in their own colours; the
    // mini arrows (hollow row given) are black and white, hollow in the
    // middle of the shaft, their heads where they point.
    void otherPictures_data() {
        const auto r = table<QIcon, QColor, int>({"icon", "mustShow", "hollowRow"});
        r("window", Images::windowIcon(), QColor(0, 150, 40), -1);
        r("monitor tab", Images::monitorTabIcon(), QColor(255, 0, 0), -1);
        r("options tab", Images::optionsTabIcon(), QColor(255, 210, 0), -1);
        r("adapter tab", Images::adapterTabIcon(), QColor(0, 150, 40), -1);
        r("mini up", Images::miniUpArrow(), QColor(Qt::black), 12);
        r("mini down", Images::miniDownArrow(), QColor(Qt::black), 3);
    }
    void otherPictures() {
        QFETCH(QIcon, icon);
        QFETCH(QColor, mustShow);
        QFETCH(int, hollowRow);
        for (int size : kSizes) {
            const QImage image = render(icon, size);
            QCOMPARE(image.size(), QSize(size, size));
            int matching = 0, opaquePixels = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const QRgb pixel = image.pixel(x, y);
                    if (qAlpha(pixel) == 0)
                        continue;
                    ++opaquePixels;
                    matching += (pixel | 0xff000000) == mustShow.rgb();
                    if (hollowRow >= 0)
                        QVERIFY(pixel == qRgb(0, 0, 0) || pixel == qRgb(255, 255, 255));
                }
            QVERIFY2(matching > 0, qPrintable(QStringLiteral("at %1 px").arg(size)));
            QVERIFY(opaquePixels < size * size); // not a filled square
        }
        if (hollowRow < 0)
            return;
        const QImage image = render(icon, 16);
        QCOMPARE(qAlpha(image.pixel(7, hollowRow)), 0);
        QCOMPARE(qAlpha(image.pixel(8, hollowRow)), 0);
        QCOMPARE(widestRow(image, 0, 16) < 8, hollowRow > 8); // the up arrow's head on top
    }
};

QTEST_MAIN(ImagesTest)
#include "test_images.moc"
