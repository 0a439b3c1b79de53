#include "settings/Registry.h"

#include "Version.h"

#include <QSettings>
#include <QVariant>

namespace {

QSettings openStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromUtf8(zarn::kOrganization), QString::fromUtf8(zarn::kProductName));
}

} // namespace

namespace Registry {

QString readSetting(const QString &name, const QString &defaultText) {
    const QSettings store = openStore();
    const QVariant value = store.value(name);
    if (value.typeId() != QMetaType::QString)
        return defaultText;
    QString text = value.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

void writeSetting(const QString &name, const QString &text) {
    QSettings store = openStore();
    store.setValue(name, text);
    store.sync();
}

} // namespace Registry
