#pragma once

#include "usage/Ledger.h"
#include "usage/UsageRules.h"

#include <QByteArray>
#include <QString>
#include <QTimeZone>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;

// The usage history on disk: one SQLite database (write-ahead journal,
// atomic commits, a schema version) holding the traffic of each interface
// per UTC period and what the ledger keeps between saves
// (docs/usage-history.md). It decides nothing: Ledger::settle does.
//
// Every failure but a busy store leaves a one-line reason in error() and
// makes the store unusable from then on; the caller turns history off and
// keeps monitoring.
class UsageStore {
public:
    enum class Mode {
        Record, // creates the store and its folder when missing; writes
        Read,   // never creates or changes a file, the store's own included
    };
    static constexpr int kSchemaVersion = 2;

    ~UsageStore();
    UsageStore(const UsageStore &) = delete;
    UsageStore &operator=(const UsageStore &) = delete;

    // Opens the store at path. On failure returns null and sets error to
    // why, in words for the user.
    // busyMs: how long a statement waits for another program's lock.
    static std::unique_ptr<UsageStore> open(const QString &path, Mode mode, QString &error,
                                            int busyMs = 2000);

    enum class Saved { Yes, Busy, Failed };
    // One save in one transaction: reads through read (so that two copies
    // of the program take turns, each starting from what the other left),
    // has the ledger settle it against what the store holds, adds the
    // counts to the fine period holding utcNow and keeps the new state.
    // Merges old periods into coarser ones once an hour. Busy: another
    // program held the store too long, nothing was read or changed.
    Saved save(const std::function<Ledger::Input()> &read, qint64 utcNow);

    // The zone whose local days merged periods must keep whole.
    void setZone(const QTimeZone &zone) { zone_ = zone; }

    // The periods of name that start in [from, to).
    std::vector<UsageRules::Period> periods(const QByteArray &name, qint64 from, qint64 to);
    // The earliest period kept for name (its counts left out); none when none is.
    std::optional<UsageRules::Period> firstPeriod(const QByteArray &name);
    // The last saved counters of name.
    std::optional<Ledger::Counter> counter(const QByteArray &name);
    // Whether any period or counter is kept for name; every name kept.
    bool knows(const QByteArray &name);
    std::vector<QByteArray> names();

    // A short text kept beside the history (the selected interface's name,
    // when the last save read the interface table).
    QByteArray note(const char *key);
    bool setNote(const char *key, const QByteArray &value);

    QString error() const { return error_; }
    bool failed() const { return !error_.isEmpty(); }

private:
    explicit UsageStore(sqlite3 *db, const QString &path);
    bool prepare(Mode mode);
    bool exec(const char *sql);
    bool fail(const char *what);
    bool merge(qint64 utcNow);
    std::optional<Ledger::State> load();
    bool keep(const Ledger::State &before, const Ledger::State &after);

    sqlite3 *db_ = nullptr;
    QString path_;
    QString error_;
    qint64 mergedHour_ = std::numeric_limits<qint64>::min();
    QTimeZone zone_ = QTimeZone::systemTimeZone();
};
