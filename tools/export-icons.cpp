// Writes the application icon as SVG and as PNGs of the usual theme sizes,
// from the same painter code the program draws its window icon with, so the
// installed icon and the window icon can never drift apart.
#include "ui/Images.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

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
        // Drawn straight into the generator: vector shapes. Going through the
        // QIcon would embed a 64 x 64 bitmap in the file instead.
        QPainter p(&svg);
        p.setRenderHint(QPainter::Antialiasing);
        Images::paintWindowIcon(p, 64, 64);
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
