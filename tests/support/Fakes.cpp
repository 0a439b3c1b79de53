#include "support/Fakes.h"

#include "Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>

InterfaceRow *FakeInterfaceSource::find(qint32 index) {
    for (auto &r : rows)
        if (r.index == index)
            return &r;
    return nullptr;
}

InterfaceRow &FakeInterfaceSource::add(qint32 index, const QString &description, quint32 type,
                                       quint64 speed) {
    InterfaceRow row;
    row.index = index;
    row.description = description;
    row.name = description.toUtf8();
    row.type = type;
    row.speed = speed;
    rows.push_back(row);
    return rows.back();
}

TableResult FakeInterfaceSource::interfaceTable(std::vector<InterfaceRow> &out) {
    ++tableQueries;
    out.clear();
    if (tableResult == TableResult::Ok)
        out = rows;
    return tableResult;
}

bool FakeInterfaceSource::interfaceRow(qint32 index, InterfaceRow &row, Detail) {
    ++rowQueries;
    if (const InterfaceRow *r = find(index)) {
        row = *r;
        return true;
    }
    row = InterfaceRow{};
    row.index = index;
    return false;
}

bool FakeInterfaceSource::addressTable(std::vector<AddressRow> &out) {
    out.clear();
    if (!addressesReadable)
        return false;
    out = addresses;
    std::sort(out.begin(), out.end(),
              [](const AddressRow &a, const AddressRow &b) { return a.address < b.address; });
    return true;
}

namespace {

// On Windows the store is a registry key that no path setting can move; the
// tests run one at a time in a Wine prefix of their own, and each starts and
// ends with the key empty.
void clearRegistryStore() {
#ifdef Q_OS_WIN
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromUtf8(zarn::kOrganization),
              QString::fromUtf8(zarn::kProductName))
        .clear();
#endif
}

} // namespace

TestPlatform::TestPlatform() {
    hadXdg_ = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    oldXdg_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    clearRegistryStore();
}

TestPlatform::~TestPlatform() {
    clearRegistryStore();
    if (hadXdg_)
        qputenv("XDG_CONFIG_HOME", oldXdg_);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

Platform TestPlatform::platform(const QString &argumentText) {
    Platform p;
    p.interfaces = &interfaces;
    p.tray = &tray;
    p.autostart = &autostart;
    p.messages = &messages;
    p.programPath = QStringLiteral("/opt/zarn/bin/zarn-bandwidth");
    p.argumentText = argumentText;
    return p;
}

QString TestPlatform::configDir() const {
    return dir_.path();
}

QString TestPlatform::settingsFilePath() const {
    return dir_.path() + QLatin1Char('/') + QString::fromUtf8(zarn::kOrganization) +
           QLatin1Char('/') + QString::fromUtf8(zarn::kProductName) + QStringLiteral(".conf");
}

bool TestPlatform::settingsFileExists() const {
    return QFile::exists(settingsFilePath());
}

void TestPlatform::writeSettingsFile(const QByteArray &content) {
    QDir().mkpath(QFileInfo(settingsFilePath()).path());
    QFile f(settingsFilePath());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(content);
}
