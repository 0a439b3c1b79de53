// Opening the store: its file and folder, the checks before anything is
// changed, and the schema's versions with the steps between them.

#include "usage/UsageSql.h"
#include "usage/UsageStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

using UsageSql::Statement;

namespace {

// Each step takes the schema from its index to the next version; a store
// from an older version runs the steps it lacks, one transaction in all.
const char *const kMigrations[] = {
    // 0 -> 1. Periods are keyed length first and start second, so that a
    // save appends to the same last page for every interface, and a year of
    // one interface is a range scan.
    "CREATE TABLE periods(length INTEGER NOT NULL, start INTEGER NOT NULL,"
    " interface BLOB NOT NULL, received INTEGER NOT NULL, sent INTEGER NOT NULL,"
    " PRIMARY KEY(length, start, interface)) WITHOUT ROWID;"
    "CREATE TABLE counters(interface BLOB PRIMARY KEY, boot_id BLOB NOT NULL,"
    " link_index INTEGER NOT NULL, received INTEGER NOT NULL, sent INTEGER NOT NULL,"
    " boot_ms INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE notes(key BLOB PRIMARY KEY, value BLOB NOT NULL) WITHOUT ROWID;",
    // 1 -> 2. The links the last save read, by index, in place of the note
    // "present" that held their names alone, and the links whose going a
    // save counted; a store paused by history switched off keeps no
    // counters, in place of the note "paused". The
    // "table" note goes too, so that the first save only takes each link's
    // counters, as before; the links that note would have told as new are
    // lost once.
    "CREATE TABLE links(link_index INTEGER PRIMARY KEY, interface BLOB NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE gone(link_index INTEGER NOT NULL, interface BLOB NOT NULL,"
    " boot_id BLOB NOT NULL, received INTEGER NOT NULL, sent INTEGER NOT NULL,"
    " boot_ms INTEGER NOT NULL, PRIMARY KEY(link_index, interface)) WITHOUT ROWID;"
    "DELETE FROM counters WHERE EXISTS(SELECT 1 FROM notes WHERE"
    " key=CAST('paused' AS BLOB) AND value=CAST('1' AS BLOB));"
    "DELETE FROM notes WHERE key IN (CAST('present' AS BLOB), CAST('paused' AS BLOB),"
    " CAST('table' AS BLOB));",
};
static_assert(std::size(kMigrations) == UsageStore::kSchemaVersion);

QString reason(int code) {
    switch (code & 0xff) {
    case SQLITE_FULL:
        return QStringLiteral("the disk is full");
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return QStringLiteral("it is read-only");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QStringLiteral("it is damaged");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("another program keeps it locked");
    case SQLITE_CANTOPEN:
        return QStringLiteral("it cannot be opened");
    default:
        return QStringLiteral("it cannot be read or written");
    }
}

} // namespace

UsageStore::UsageStore(sqlite3 *db, const QString &path) : db_(db), path_(path) {}

UsageStore::~UsageStore() {
    sqlite3_close(db_);
}

std::unique_ptr<UsageStore> UsageStore::open(const QString &path, Mode mode, QString &error,
                                             int busyMs) {
    const QFileInfo info(path);
    QByteArray uri = QUrl::fromLocalFile(info.absoluteFilePath()).toEncoded();
    int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
    if (mode == Mode::Read) {
        if (!info.exists()) {
            error = QStringLiteral("there is no usage history yet (%1 does not exist)").arg(path);
            return nullptr;
        }
        flags |= SQLITE_OPEN_READONLY;
        uri += "?mode=ro";
        // With no journal beside it, no program is writing the store: read
        // it as a plain file, so that not even a lock or index file appears.
        if (!QFileInfo::exists(path + QStringLiteral("-wal")))
            uri += "&immutable=1";
    } else {
        // The history is personal: its folder and file are the user's alone.
        const QString folder = info.absolutePath();
        if (!QFileInfo::exists(folder)) {
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        if (!info.exists()) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                           QFile::ReadOwner | QFile::WriteOwner) &&
                !QFileInfo::exists(path)) {
                error = QStringLiteral("%1 cannot be created (%2)").arg(path, file.errorString());
                return nullptr;
            }
        }
        flags |= SQLITE_OPEN_READWRITE;
    }
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(uri.constData(), &db, flags, nullptr);
    std::unique_ptr<UsageStore> store(new UsageStore(db, path));
    if (rc != SQLITE_OK) {
        store->fail("opening");
        error = store->error();
        return nullptr;
    }
    sqlite3_busy_timeout(db, busyMs);
    if (!store->prepare(mode)) {
        error = store->error();
        return nullptr;
    }
    return store;
}

bool UsageStore::fail(const char *what) {
    const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_NOMEM;
    error_ = QStringLiteral("%1: %2 (%3 failed: %4)")
                 .arg(path_, reason(code), QLatin1String(what),
                      QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "out of memory"));
    return false;
}

bool UsageStore::exec(const char *sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool UsageStore::prepare(Mode mode) {
    // Nothing is changed before the version is known: a store from a newer
    // program stays exactly as it is.
    qint64 found = 0;
    qint64 tableCount = 0;
    QByteArray checked;
    {
        Statement version(db_, "PRAGMA user_version");
        if (version.step() != SQLITE_ROW)
            return fail("reading the version");
        found = version.integer(0);
        Statement check(db_, "PRAGMA quick_check");
        if (check.step() != SQLITE_ROW)
            return fail("checking");
        checked = check.blob(0);
        Statement tables(db_, "SELECT count(*) FROM sqlite_schema");
        if (tables.step() != SQLITE_ROW)
            return fail("reading");
        tableCount = tables.integer(0);
    } // the statements end their read here: the journal mode needs none open
    if (found > kSchemaVersion) {
        error_ = QStringLiteral("%1 comes from a newer version of the program (schema %2, this "
                                "one knows %3); it is left as it is")
                     .arg(path_)
                     .arg(found)
                     .arg(kSchemaVersion);
        return false;
    }
    if (checked != "ok") {
        error_ = QStringLiteral("%1: it is damaged (%2)").arg(path_, QString::fromUtf8(checked));
        return false;
    }
    if (found == 0 && tableCount > 0) {
        error_ = QStringLiteral("%1 is not a usage history; it is left as it is").arg(path_);
        return false;
    }
    if (mode == Mode::Read) {
        if (found == 0) {
            error_ = QStringLiteral("there is no usage history yet (%1 is empty)").arg(path_);
            return false;
        }
        return found == kSchemaVersion || fail("reading an older version");
    }
    if (sqlite3_db_readonly(db_, "main") == 1) {
        error_ = QStringLiteral("%1: it is read-only").arg(path_);
        return false;
    }
    // Small pages: a save changes a few rows, and every changed page is
    // written twice (journal, then the file). The size only applies to a
    // new file.
    if (found == 0 && !exec("PRAGMA page_size=1024"))
        return fail("setting the page size");
    // The write-ahead journal keeps the file whole through a power cut;
    // synchronous=FULL makes each save durable when it returns.
    {
        Statement wal(db_, "PRAGMA journal_mode=WAL");
        if (wal.step() != SQLITE_ROW || wal.blob(0) != "wal")
            return fail("turning on the journal");
    }
    if (!exec("PRAGMA synchronous=FULL"))
        return fail("setting durability");
    if (found == kSchemaVersion)
        return true;
    // Two copies starting at once: the second finds the first's schema.
    if (!exec("BEGIN IMMEDIATE"))
        return fail("migrating");
    qint64 now = -1;
    {
        Statement again(db_, "PRAGMA user_version");
        if (again.step() == SQLITE_ROW)
            now = again.integer(0);
    }
    bool ok = now >= 0;
    for (; ok && now < kSchemaVersion; ++now)
        ok = exec(kMigrations[now]);
    ok = ok &&
         exec(QByteArray("PRAGMA user_version=")
                  .append(QByteArray::number(kSchemaVersion))
                  .constData()) &&
         exec("COMMIT");
    if (!ok) {
        fail("migrating");
        exec("ROLLBACK");
        return false;
    }
    return true;
}
