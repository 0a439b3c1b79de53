#include "settings/Registry.h"

#include "Version.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QVariant>
#include <optional>

namespace {

QSettings openStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromUtf8(zarn::kOrganization), QString::fromUtf8(zarn::kProductName));
}

// The text readSetting gives for name, or nullopt when no plain text is
// stored under it.
std::optional<QString> storedText(const QSettings &store, const QString &name) {
    const QVariant value = store.value(name);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    QString text = value.toString();
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

// QSettings keeps each file it has read in a per-process cache and trusts
// it for as long as the file's size and modification time are unchanged.
// Two copies of the program writing within one tick of the file system's
// clock leave the same time behind, and a change of the same size (a "0"
// that becomes a "1") then goes unseen: the next write of the other copy
// would merge its own stale view back in and undo the change. So every
// write moves the time strictly forward, at least one millisecond past the
// time the file had before it; the writers take turns (the lock below) so
// that "before" is exact.
void moveTimeForward(const QString &path, const QDateTime &before) {
    if (!before.isValid())
        return;
    const QDateTime after = QFileInfo(path).lastModified().toUTC();
    if (after.isValid() && after > before)
        return;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        file.setFileTime(before.addMSecs(1), QFileDevice::FileModificationTime);
}

} // namespace

namespace Registry {

QString readSetting(const QString &name, const QString &defaultText) {
    const QSettings store = openStore();
    return storedText(store, name).value_or(defaultText);
}

void writeSetting(const QString &name, const QString &text) {
    const QString path = openStore().fileName();
    // The folder must exist for the lock; a folder that cannot be made
    // fails the lock and the write alike, silently.
    QDir().mkpath(QFileInfo(path).path());
    // Kept apart from the lock QSettings takes inside sync(), which must
    // stay free for it. A copy that holds the lock and hangs is waited for
    // a while only; then the write goes ahead unlocked.
    QLockFile turn(path + QStringLiteral(".writer"));
    const bool locked = turn.tryLock(5000);

    QFileInfo info(path);
    const QDateTime before = info.exists() ? info.lastModified().toUTC() : QDateTime();
    {
        QSettings store = openStore();
        // A value that already reads as the text is not written again: a
        // handler that stores what start-up has just read rewrites nothing,
        // and a file that only reads well stays exactly as it was.
        if (storedText(store, name) == text)
            return;
        store.setValue(name, text);
        store.sync();
        if (store.status() != QSettings::NoError)
            return;
    }
    if (locked)
        moveTimeForward(path, before);
}

} // namespace Registry
