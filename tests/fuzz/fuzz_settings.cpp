// The settings reader over a file of any content, in a private folder: it never crashes, changes
// the file or hands back a NUL, and a write over such a file reads back as written.
#include "FuzzSupport.h"
#include "Version.h"
#include "settings/Registry.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

const char kNames[] =
    "Adapter UpdateFrequency YellowThreshold RedThreshold AutoAdjustThreshold "
    "MinimizeToTray ShowBandwidthInTray StartupMinimized ShowTrayIcon AnimateTrayIcon";

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static QTemporaryDir folder; // removed at exit with everything in it
    static const QString store = [] {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
        QDir(folder.path()).mkdir(zarn::kOrganization);
        return folder.path() + "/" + zarn::kOrganization + "/" + zarn::kProductName + ".conf";
    }();
    static const QStringList names = QString::fromLatin1(kNames).split(u' ');
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString input = QString::fromUtf8(bytes), fallback = QStringLiteral("\x01 fallback");

    // QSettings caches parsed files by size and time: each input gets a newer time.
    static qint64 stamp = 1000000000;
    QFile f(store);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) ||
        f.write(bytes) != bytes.size() ||
        !f.setFileTime(QDateTime::fromSecsSinceEpoch(++stamp), QFileDevice::FileModificationTime))
        std::abort();
    f.close();

    // Plain text comes back as QSettings reads it (up to a NUL), anything else as the fallback.
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, zarn::kOrganization,
                             zarn::kProductName);
    for (const QString &name : names) {
        const QString read = Registry::readSetting(name, fallback);
        const QVariant raw = settings.value(name);
        FUZZ_CHECK(!read.contains(QChar(u'\0')) &&
                   (raw.typeId() == QMetaType::QString ? raw.toString().startsWith(read)
                                                       : read == fallback));
    }
    FUZZ_CHECK(f.open(QIODevice::ReadOnly) && f.readAll() == bytes);

    // A setting the input picks, written with its text (no NULs: the reader cuts there), reads
    // back.
    const QString text = input.left(300).remove(QChar(u'\0'));
    const QString &name = names[size ? data[0] % names.size() : 0];
    Registry::writeSetting(name, text);
    FUZZ_CHECK(Registry::readSetting(name, fallback) == text);
    return 0;
}
