#include "usage/UsagePlatform.h"

#include "Version.h"

#include <QStandardPaths>

QString UsagePlatform::standardDataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/%1/%2").arg(QString::fromUtf8(zarn::kOrganization),
                                        QString::fromUtf8(zarn::kProductName));
}
