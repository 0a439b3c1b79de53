#include "monitor/TrayPicture.h"

QString loadLevelName(LoadLevel level) {
    switch (level) {
    case LoadLevel::Red:
        return QStringLiteral("Red");
    case LoadLevel::Yellow:
        return QStringLiteral("Yellow");
    case LoadLevel::Green:
        return QStringLiteral("Green");
    case LoadLevel::None:
        break;
    }
    return QStringLiteral("None");
}

QString TrayPicture::name() const {
    return QStringLiteral("pic") + loadLevelName(up) + loadLevelName(down);
}
