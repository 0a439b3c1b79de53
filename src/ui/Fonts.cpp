#include "ui/Fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

namespace {

const QString kTahoma = QStringLiteral("Tahoma");

// Where Debian's fonts-wine package puts Wine's Tahoma, regular and bold.
const char *const kTahomaFiles[] = {
    "/usr/share/wine/fonts/tahoma.ttf",
    "/usr/share/wine/fonts/tahomabd.ttf",
};

bool tahomaListed() {
    return QFontDatabase::families().contains(kTahoma, Qt::CaseInsensitive);
}

} // namespace

namespace Fonts {

bool ensureTahoma() {
    static bool tried = false;
    if (tahomaListed())
        return true;
    if (tried)
        return false;
    tried = true;
    for (const char *file : kTahomaFiles) {
        const QString path = QString::fromLatin1(file);
        if (QFile::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
    return tahomaListed();
}

QFont dialogFont() {
    QFont font = ensureTahoma() ? QFont(kTahoma) : QGuiApplication::font();
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

} // namespace Fonts
