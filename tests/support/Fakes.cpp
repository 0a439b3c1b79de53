#include "support/Fakes.h"

#include "Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>

InterfaceRow *FakeInterfaceSource::find(qint32 index) {
    const auto it =
        std::find_if(rows.begin(), rows.end(), [&](auto &r) { return r.index == index; });
    return it == rows.end() ? nullptr : &*it;
}

InterfaceRow &FakeInterfaceSource::add(qint32 index, const QString &description, quint32 type,
                                       quint64 speed) {
    return rows.emplace_back(
        InterfaceRow{index, type, speed, 0, 0, 64, description, description.toUtf8()});
}

TableResult FakeInterfaceSource::interfaceTable(std::vector<InterfaceRow> &out) {
    ++tableQueries;
    out = tableResult == TableResult::Ok ? rows : std::vector<InterfaceRow>();
    return tableResult;
}

bool FakeInterfaceSource::interfaceRow(qint32 index, InterfaceRow &row, Detail) {
    ++rowQueries;
    const InterfaceRow *r = find(index);
    row = r ? *r : InterfaceRow();
    row.index = index;
    return r != nullptr;
}

// Sorted by address, as the system hands it over.
bool FakeInterfaceSource::addressTable(std::vector<AddressRow> &out) {
    out = addressesReadable ? addresses : std::vector<AddressRow>();
    std::sort(out.begin(), out.end(),
              [](const AddressRow &a, const AddressRow &b) { return a.address < b.address; });
    return addressesReadable;
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
