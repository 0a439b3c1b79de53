// The settings reader over a settings file of any content: a hand-edited,
// truncated or foreign file must never crash the reader, never be changed by
// a read, and never hand back text with a NUL in it; a write over such a file
// reads back as written. The store lives in a private temporary folder
// (XDG_CONFIG_HOME and QSettings' user path), never the user's own.
#include "FuzzSupport.h"
#include "Version.h"
#include "settings/Registry.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kSettings[] = {"Adapter",
                             "UpdateFrequency",
                             "YellowThreshold",
                             "RedThreshold",
                             "AutoAdjustThreshold",
                             "MinimizeToTray",
                             "ShowBandwidthInTray",
                             "StartupMinimized",
                             "ShowTrayIcon",
                             "AnimateTrayIcon"};

// A private store, removed at exit with everything in it.
QString makeStore() {
    static QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QDir(folder.path()).mkdir(zarn::kOrganization);
    return folder.path() + "/" + zarn::kOrganization + "/" + zarn::kProductName + ".conf";
}

QByteArray bytesOf(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const QString store = makeStore();
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString fallback = QStringLiteral("\x01 fallback");

    // Written as an editor would. QSettings keeps parsed files in a cache
    // keyed on size and time, so each input gets a newer time to be re-read.
    static qint64 stamp = 1000000000;
    QFile f(store);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    f.write(reinterpret_cast<const char *>(data), qint64(size));
    f.close();
    const struct timespec times[2] = {{++stamp, 0}, {stamp, 0}};
    utimensat(AT_FDCWD, QFile::encodeName(store).constData(), times, 0);

    for (const QString &name : kSettings) {
        const QString read = Registry::readSetting(name, fallback);
        // Plain text comes back as QSettings reads it (up to a NUL); anything
        // else (a list, a byte array, a point) gives the fallback.
        const QVariant raw = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                       zarn::kOrganization, zarn::kProductName)
                                 .value(name);
        FUZZ_CHECK(!read.contains(QChar(u'\0')), input);
        FUZZ_CHECK(raw.typeId() == QMetaType::QString ? raw.toString().startsWith(read)
                                                      : read == fallback,
                   input);
    }
    FUZZ_CHECK(bytesOf(store) == QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)),
               input);

    // One setting, picked by the input, written with the input as its text
    // (without NULs, where the reader cuts): it reads back exactly.
    if (size == 0)
        return 0;
    QString text = input.left(300);
    text.remove(QChar(u'\0'));
    const QString &name = kSettings[data[0] % std::size(kSettings)];
    Registry::writeSetting(name, text);
    FUZZ_CHECK(Registry::readSetting(name, fallback) == text, input);
    return 0;
}
