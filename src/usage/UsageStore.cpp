#include "usage/UsageStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <map>
#include <sqlite3.h>

namespace {

using Ledger::Counter;
using UsageRules::Period;

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
    // "present" that held their names alone; a store paused by history
    // switched off keeps no counters, in place of the note "paused". The
    // "table" note goes too, so that the first save only takes each link's
    // counters, as before; the links that note would have told as new are
    // lost once.
    "CREATE TABLE links(link_index INTEGER PRIMARY KEY, interface BLOB NOT NULL) WITHOUT ROWID;"
    "DELETE FROM counters WHERE EXISTS(SELECT 1 FROM notes WHERE"
    " key=CAST('paused' AS BLOB) AND value=CAST('1' AS BLOB));"
    "DELETE FROM notes WHERE key IN (CAST('present' AS BLOB), CAST('paused' AS BLOB),"
    " CAST('table' AS BLOB));",
};
static_assert(std::size(kMigrations) == UsageStore::kSchemaVersion);

// One prepared statement, finalized when it goes out of scope.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) != SQLITE_OK)
            s_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    bool ok() const { return s_ != nullptr; }
    Statement &bind(int i, qint64 v) {
        if (s_)
            sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Statement &bind(int i, const QByteArray &v) {
        if (s_)
            sqlite3_bind_blob(s_, i, v.constData(), int(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return s_ ? sqlite3_step(s_) : SQLITE_ERROR; }
    qint64 integer(int column) const { return sqlite3_column_int64(s_, column); }
    QByteArray blob(int column) const {
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(s_, column)),
                          sqlite3_column_bytes(s_, column));
    }

private:
    sqlite3_stmt *s_ = nullptr;
};

// Counters are unsigned 64-bit; SQLite integers are signed. The bits are
// kept as they are.
qint64 toStored(quint64 v) {
    return qint64(v);
}
quint64 fromStored(qint64 v) {
    return quint64(v);
}

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

namespace {

// The counter in the row s stands on, from column first on; nullopt for a
// link index no system gives (the file may be damaged).
std::optional<Counter> counterAt(const Statement &s, int first) {
    const qint64 index = s.integer(first + 1);
    if (index <= 0 || index > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return Counter{s.blob(first), qint32(index), fromStored(s.integer(first + 2)),
                   fromStored(s.integer(first + 3)), s.integer(first + 4)};
}

} // namespace

std::optional<Counter> UsageStore::counter(const QByteArray &name) {
    Statement s(db_, "SELECT boot_id, link_index, received, sent, boot_ms FROM counters"
                     " WHERE interface=?1");
    s.bind(1, name);
    return s.step() == SQLITE_ROW ? counterAt(s, 0) : std::nullopt;
}

namespace {

// "MS BOOT": when the last save read the interface table, and in which boot.
QByteArray tableNote(const Counter &c) {
    return QByteArray::number(c.bootMs) + ' ' + c.bootId;
}

std::optional<Counter> fromTableNote(const QByteArray &note) {
    const qsizetype blank = note.indexOf(' ');
    bool ok = false;
    const qint64 ms = note.left(blank).toLongLong(&ok);
    if (!ok || blank < 0 || blank + 1 == note.size())
        return std::nullopt;
    return Counter{note.mid(blank + 1), 0, 0, 0, ms};
}

bool busy(sqlite3 *db) {
    const int code = sqlite3_extended_errcode(db) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

} // namespace

std::optional<Ledger::State> UsageStore::load() {
    Ledger::State state;
    Statement counters(db_, "SELECT interface, boot_id, link_index, received, sent, boot_ms"
                            " FROM counters");
    int rc = SQLITE_ROW;
    while ((rc = counters.step()) == SQLITE_ROW)
        if (const auto c = counterAt(counters, 1))
            state.counters[counters.blob(0)] = *c;
    if (rc != SQLITE_DONE)
        return std::nullopt;
    Statement links(db_, "SELECT link_index, interface FROM links");
    while ((rc = links.step()) == SQLITE_ROW)
        state.links[qint32(links.integer(0))] = links.blob(1);
    if (rc != SQLITE_DONE)
        return std::nullopt;
    state.table = fromTableNote(note("table"));
    return state;
}

bool UsageStore::keep(const Ledger::State &before, const Ledger::State &after) {
    // Only what changed is written: a quiet link costs no disk.
    for (const auto &[name, c] : after.counters) {
        const auto was = before.counters.find(name);
        if (was != before.counters.end() && was->second.bootId == c.bootId &&
            was->second.linkIndex == c.linkIndex && was->second.received == c.received &&
            was->second.sent == c.sent)
            continue;
        Statement s(db_, "INSERT OR REPLACE INTO counters VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        s.bind(1, name)
            .bind(2, c.bootId)
            .bind(3, c.linkIndex)
            .bind(4, toStored(c.received))
            .bind(5, toStored(c.sent))
            .bind(6, c.bootMs);
        if (s.step() != SQLITE_DONE)
            return false;
    }
    for (const auto &[name, c] : before.counters) {
        if (after.counters.count(name))
            continue;
        Statement s(db_, "DELETE FROM counters WHERE interface=?1");
        s.bind(1, name);
        if (s.step() != SQLITE_DONE)
            return false;
    }
    if (after.links != before.links) {
        if (!exec("DELETE FROM links"))
            return false;
        for (const auto &[index, name] : after.links) {
            Statement s(db_, "INSERT INTO links VALUES(?1, ?2)");
            s.bind(1, index).bind(2, name);
            if (s.step() != SQLITE_DONE)
                return false;
        }
    }
    const QByteArray table = after.table ? tableNote(*after.table) : QByteArray();
    if (table == note("table"))
        return true;
    Statement s(db_, after.table ? "INSERT OR REPLACE INTO notes VALUES(?1, ?2)"
                                 : "DELETE FROM notes WHERE key=?1");
    s.bind(1, QByteArray("table"));
    if (after.table)
        s.bind(2, table);
    return s.step() == SQLITE_DONE;
}

UsageStore::Saved UsageStore::save(const std::function<Ledger::Input()> &read, qint64 utcNow) {
    if (failed())
        return Saved::Failed;
    if (!exec("BEGIN IMMEDIATE")) {
        if (busy(db_))
            return Saved::Busy;
        fail("starting a save");
        return Saved::Failed;
    }
    // Read only now that this copy holds the store: another copy's save
    // has either happened completely or not at all.
    const auto before = load();
    bool ok = before.has_value();
    if (ok) {
        const Ledger::Outcome outcome = Ledger::settle(*before, read());
        const qint64 period = UsageRules::periodStart(utcNow, UsageRules::kFine);
        for (const auto &[name, added] : outcome.added) {
            Statement add(db_, "INSERT INTO periods VALUES(?1, ?2, ?3, ?4, ?5)"
                               " ON CONFLICT DO UPDATE SET received=received+excluded.received,"
                               " sent=sent+excluded.sent");
            add.bind(1, UsageRules::kFine)
                .bind(2, period)
                .bind(3, name)
                .bind(4, toStored(added.received))
                .bind(5, toStored(added.sent));
            ok = ok && add.step() == SQLITE_DONE;
        }
        ok = ok && keep(*before, outcome.next) && merge(utcNow);
    }
    if (ok && exec("COMMIT"))
        return Saved::Yes;
    const bool wasBusy = busy(db_);
    if (!wasBusy)
        fail("saving");
    exec("ROLLBACK");
    return wasBusy ? Saved::Busy : Saved::Failed;
}

// Fine periods older than two days become hours, hours older than about a
// year become days; totals are kept, only the detail goes. Each row goes
// whole into the longer period that UsageRules::mergedStart gives, so local
// days keep their totals in every zone. The detail is deleted only once its
// totals are in, else the save fails.
bool UsageStore::merge(qint64 utcNow) {
    const qint64 hour = UsageRules::periodStart(utcNow, UsageRules::kHour);
    if (hour == mergedHour_)
        return true;
    struct Step {
        qint64 from, to, keep;
    };
    for (const Step &step : {Step{UsageRules::kFine, UsageRules::kHour, UsageRules::kKeepFine},
                             Step{UsageRules::kHour, UsageRules::kDay, UsageRules::kKeepHours}}) {
        const qint64 cut = UsageRules::periodStart(utcNow - step.keep, step.to);
        // Summed in memory first: the table is not written while it is read.
        std::map<std::pair<qint64, QByteArray>, std::pair<quint64, quint64>> merged;
        {
            Statement old(db_, "SELECT start, interface, received, sent FROM periods"
                               " WHERE length=?1 AND start<?2");
            old.bind(1, step.from).bind(2, cut);
            int rc = SQLITE_ROW;
            while ((rc = old.step()) == SQLITE_ROW) {
                auto &sum =
                    merged[{UsageRules::mergedStart(old.integer(0), step.to, zone_), old.blob(1)}];
                sum.first += fromStored(old.integer(2));
                sum.second += fromStored(old.integer(3));
            }
            if (rc != SQLITE_DONE)
                return false;
        }
        for (const auto &[key, sum] : merged) {
            Statement add(db_, "INSERT INTO periods VALUES(?1, ?2, ?3, ?4, ?5)"
                               " ON CONFLICT DO UPDATE SET received=received+excluded.received,"
                               " sent=sent+excluded.sent");
            add.bind(1, step.to)
                .bind(2, key.first)
                .bind(3, key.second)
                .bind(4, toStored(sum.first))
                .bind(5, toStored(sum.second));
            if (add.step() != SQLITE_DONE)
                return false;
        }
        Statement drop(db_, "DELETE FROM periods WHERE length=?1 AND start<?2");
        drop.bind(1, step.from).bind(2, cut);
        if (drop.step() != SQLITE_DONE)
            return false;
    }
    mergedHour_ = hour;
    return true;
}

std::vector<Period> UsageStore::periods(const QByteArray &name, qint64 from, qint64 to) {
    std::vector<Period> out;
    Statement s(db_, "SELECT start, length, received, sent FROM periods"
                     " WHERE length IN (?4, ?5, ?6) AND start>=?2 AND start<?3 AND interface=?1");
    s.bind(1, name)
        .bind(2, from)
        .bind(3, to)
        .bind(4, UsageRules::kFine)
        .bind(5, UsageRules::kHour)
        .bind(6, UsageRules::kDay);
    int rc = SQLITE_ROW;
    while ((rc = s.step()) == SQLITE_ROW)
        out.push_back(
            {s.integer(0), s.integer(1), fromStored(s.integer(2)), fromStored(s.integer(3))});
    if (rc != SQLITE_DONE)
        fail("reading");
    return out;
}

std::optional<Period> UsageStore::firstPeriod(const QByteArray &name) {
    // Per length, in the key's order (length, start): each search stops at
    // the name's first row instead of sorting all of them.
    std::optional<Period> first;
    for (const qint64 length : {UsageRules::kDay, UsageRules::kHour, UsageRules::kFine}) {
        Statement s(db_, "SELECT start FROM periods WHERE length=?2 AND interface=?1"
                         " ORDER BY start LIMIT 1");
        s.bind(1, name).bind(2, length);
        if (s.step() == SQLITE_ROW && (!first || s.integer(0) < first->start))
            first = Period{s.integer(0), length, 0, 0};
    }
    return first;
}

bool UsageStore::knows(const QByteArray &name) {
    Statement s(db_, "SELECT 1 FROM counters WHERE interface=?1 UNION ALL"
                     " SELECT 1 FROM periods WHERE interface=?1 LIMIT 1");
    s.bind(1, name);
    return s.step() == SQLITE_ROW;
}

std::vector<QByteArray> UsageStore::names() {
    std::vector<QByteArray> out;
    Statement s(db_, "SELECT interface FROM counters UNION SELECT DISTINCT interface FROM periods"
                     " ORDER BY 1");
    while (s.step() == SQLITE_ROW)
        out.push_back(s.blob(0));
    return out;
}

QByteArray UsageStore::note(const char *key) {
    Statement s(db_, "SELECT value FROM notes WHERE key=?1");
    s.bind(1, QByteArray(key));
    return s.step() == SQLITE_ROW ? s.blob(0) : QByteArray();
}

bool UsageStore::setNote(const char *key, const QByteArray &value) {
    if (failed())
        return false;
    Statement s(db_, "INSERT OR REPLACE INTO notes VALUES(?1, ?2)");
    s.bind(1, QByteArray(key)).bind(2, value);
    // A busy store takes the note at a later save.
    return s.step() == SQLITE_DONE || (!busy(db_) && fail("saving a note"));
}
