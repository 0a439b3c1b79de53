// The settings reader over a settings file of any content: a hand-edited,
// truncated or foreign file must never crash the reader, never be changed by
// a read, and never hand back text with a NUL in it. A write over such a file
// must read back as written. The store lives in a private temporary folder
// (XDG_CONFIG_HOME and QSettings' user path), never the user's own.
#include "FuzzSupport.h"
#include "Version.h"
#include "settings/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const char *const kSettings[] = {"Adapter",
                                 "UpdateFrequency",
                                 "YellowThreshold",
                                 "RedThreshold",
                                 "AutoAdjustThreshold",
                                 "MinimizeToTray",
                                 "ShowBandwidthInTray",
                                 "StartupMinimized",
                                 "ShowTrayIcon",
                                 "AnimateTrayIcon"};
constexpr int kSettingCount = int(sizeof kSettings / sizeof kSettings[0]);

QString storeFolder;
QString storeFile;
qint64 stamp = 1000000000; // seconds; every input gets a newer file time

void removeStore() {
    if (!storeFolder.isEmpty())
        QDir(storeFolder).removeRecursively();
}

QByteArray fileBytes() {
    QFile f(storeFile);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
}

// Writes the file as an editor would. QSettings keeps parsed files in a cache
// keyed on size and time, so each input gets a distinct time to be re-read.
void writeStore(const std::uint8_t *data, std::size_t size) {
    QFile f(storeFile);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    f.write(reinterpret_cast<const char *>(data), qint64(size));
    f.close();
    ++stamp;
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    utimensat(AT_FDCWD, QFile::encodeName(storeFile).constData(), times, 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/zarn-fuzz-settings-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    storeFolder = QString::fromLocal8Bit(pattern);
    qputenv("XDG_CONFIG_HOME", pattern);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, storeFolder);
    storeFile = storeFolder + QLatin1Char('/') + QString::fromUtf8(zarn::kOrganization) +
                QLatin1Char('/') + QString::fromUtf8(zarn::kProductName) + QStringLiteral(".conf");
    QDir().mkpath(QFileInfo(storeFile).path());
    std::atexit(removeStore);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString fallback = QStringLiteral("\x01 fallback");

    // An empty input stands for no file at all: reading must not create one.
    if (size == 0) {
        QFile::remove(storeFile);
        for (const char *name : kSettings)
            FUZZ_CHECK(Registry::readSetting(QString::fromLatin1(name), fallback) == fallback,
                       input, QString::fromLatin1(name));
        FUZZ_CHECK(!QFile::exists(storeFile), input, QStringLiteral("a read created the file"));
        return 0;
    }

    writeStore(data, size);
    const QByteArray before = fileBytes();
    QString read[kSettingCount];
    for (int i = 0; i < kSettingCount; ++i) {
        read[i] = Registry::readSetting(QString::fromLatin1(kSettings[i]), fallback);
        FUZZ_CHECK(!read[i].contains(QChar(u'\0')), input, QString::fromLatin1(kSettings[i]));
        // Plain text comes back as QSettings reads it (up to a NUL); anything
        // else (a list, a byte array, a point) gives the fallback.
        const QVariant raw =
            QSettings(QSettings::NativeFormat, QSettings::UserScope,
                      QString::fromUtf8(zarn::kOrganization), QString::fromUtf8(zarn::kProductName))
                .value(QString::fromLatin1(kSettings[i]));
        if (raw.typeId() != QMetaType::QString)
            FUZZ_CHECK(read[i] == fallback, input, read[i]);
        else
            FUZZ_CHECK(raw.toString().startsWith(read[i]), input, read[i]);
    }
    FUZZ_CHECK(fileBytes() == before, input, QStringLiteral("a read changed the file"));

    // One setting, picked by the input, is written with the input as its text
    // (without NULs, which the reader cuts at): it reads back exactly.
    const int pick = int(data[0]) % kSettingCount;
    QString text = input.left(300);
    text.remove(QChar(u'\0'));
    Registry::writeSetting(QString::fromLatin1(kSettings[pick]), text);
    const QString back = Registry::readSetting(QString::fromLatin1(kSettings[pick]), fallback);
    FUZZ_CHECK(back == text, input, QStringLiteral("wrote \"%1\", read \"%2\"").arg(text, back));
    return 0;
}
