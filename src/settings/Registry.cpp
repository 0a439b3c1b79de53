#include "settings/Registry.h"

#include "Version.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QThread>
#include <QVariant>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

QSettings openStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromUtf8(zarn::kOrganization), QString::fromUtf8(zarn::kProductName));
}

#ifdef Q_OS_UNIX
// The store's folder, found without reading the store (which must happen
// only in turn): a QSettings for a name that never holds a file lives in the
// same folder.
QString storeFolder() {
    const QSettings probe(QSettings::NativeFormat, QSettings::UserScope,
                          QString::fromUtf8(zarn::kOrganization),
                          QString::fromUtf8(zarn::kProductName) + QStringLiteral(".folder"));
    return QFileInfo(probe.fileName()).path();
}
#endif

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
// time the file had before it; the writers take turns (StoreTurn) so that
// "before" is exact.
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

// Readers and writers of one store take turns: a lock on the store's
// folder, shared by readers, held alone by a writer from just before it
// reads the file's time until after it has moved the time on. Readers need
// it too: QSettings opens the file before it looks at its size and time,
// and a writer that replaced the file in between would leave the reader
// with the old contents filed under the new time, trusted from then on.
// flock() rather than a lock file: it leaves nothing behind,
// goes with the process should it die, and wakes a waiting writer at once
// (a lock file is polled, 100 ms and more per turn). It is kept apart from
// the lock file QSettings takes inside sync(), which must stay free for it;
// with every writer waiting here first, that one is never contended. A
// copy that holds the turn and hangs is waited for a few seconds only; the
// read or write then goes ahead without it.
class StoreTurn {
public:
    enum Kind { Read, Write };
    StoreTurn(const QString &folder, Kind kind) {
#ifdef Q_OS_UNIX
        fd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0)
            return;
        QDeadlineTimer deadline(5000);
        const int operation = kind == Write ? LOCK_EX : LOCK_SH;
        while (::flock(fd_, operation | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            QThread::usleep(200);
        }
#else
        Q_UNUSED(folder);
        Q_UNUSED(kind);
#endif
    }
    ~StoreTurn() {
#ifdef Q_OS_UNIX
        if (fd_ >= 0)
            ::close(fd_); // lets the next writer in
#endif
    }
    StoreTurn(const StoreTurn &) = delete;
    StoreTurn &operator=(const StoreTurn &) = delete;
    bool held() const {
        return fd_ >= 0;
    }

private:
    int fd_ = -1;
};

} // namespace

namespace Registry {

QString readSetting(const QString &name, const QString &defaultText) {
#ifdef Q_OS_UNIX
    const StoreTurn turn(storeFolder(), StoreTurn::Read);
#endif
    const QSettings store = openStore();
    return storedText(store, name).value_or(defaultText);
}

void writeSetting(const QString &name, const QString &text) {
#ifdef Q_OS_UNIX
    // The folder must exist for the lock; a folder that cannot be made
    // fails the lock and the write alike, silently.
    const QString folder = storeFolder();
    QDir().mkpath(folder);
#else
    // On Windows the store is the registry key itself, written value by
    // value; its "file name" is a key path, no folder to make or lock.
    const QString folder;
#endif
    const StoreTurn turn(folder, StoreTurn::Write);

    QSettings store = openStore();
    const QString path = store.fileName();
    const QFileInfo info(path);
    const QDateTime before = info.exists() ? info.lastModified().toUTC() : QDateTime();
    // A value that already reads as the text is not written again: a
    // handler that stores what start-up has just read rewrites nothing, and
    // a file that only reads well stays exactly as it was.
    if (storedText(store, name) == text)
        return;
    store.setValue(name, text);
    store.sync();
    if (store.status() == QSettings::NoError && turn.held())
        moveTimeForward(path, before);
}

} // namespace Registry
