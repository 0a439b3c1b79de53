#pragma once

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
// per UTC period, and the last counter values saved for each.
//
// Every failure leaves a one-line reason in error() and makes the store
// unusable from then on; the caller turns history off and keeps monitoring.
class UsageStore {
public:
    enum class Mode {
        Record, // creates the store and its folder when missing; writes
        Read,   // never creates or changes a file, the store's own included
    };
    static constexpr int kSchemaVersion = 1;

    ~UsageStore();
    UsageStore(const UsageStore &) = delete;
    UsageStore &operator=(const UsageStore &) = delete;

    // Opens the store at path. On failure returns null and sets error to
    // why, in words for the user.
    static std::unique_ptr<UsageStore> open(const QString &path, Mode mode, QString &error);

    // What a save is given for each counted interface, read while the save
    // holds the store so that two copies of the program take turns.
    struct Named {
        QByteArray name;
        UsageRules::Reading reading;
        // Stands in for the saved counter of a name never saved: a link
        // known to have come up after base was taken counts from zero.
        std::optional<UsageRules::Counter> base = std::nullopt;
        // Counts nothing, only takes the reading as the new saved counter:
        // history was off, and what the link moved meanwhile is not kept.
        bool rebase = false;
    };
    using Reader = std::function<std::vector<Named>()>;
    // A count that was dropped, for the caller to note.
    struct Dropped {
        QByteArray name;
        UsageRules::Count count;
    };

    // One save in one transaction: reads the counters through read, adds
    // each interface's count to the fine period holding utcNow, and keeps
    // the readings as the new base. Merges old periods into coarser ones
    // once an hour. False when the store failed (see error()).
    bool save(const Reader &read, qint64 utcNow, std::vector<Dropped> *dropped = nullptr);

    // The zone whose local days merged periods must keep whole.
    void setZone(const QTimeZone &zone) { zone_ = zone; }

    // The periods of name that start in [from, to).
    std::vector<UsageRules::Period> periods(const QByteArray &name, qint64 from, qint64 to);
    // The last saved counters of name.
    std::optional<UsageRules::Counter> counter(const QByteArray &name);
    // Whether any period or counter is kept for name; every name kept.
    bool knows(const QByteArray &name);
    std::vector<QByteArray> names();

    // A short text kept beside the history (the selected interface's name).
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
    // The saved counter of the link now named name, if this boot saved it
    // under another name (renamed since); reading.counter holds it.
    std::optional<Named> renamed(const QByteArray &name, const UsageRules::Counter &now);

    sqlite3 *db_ = nullptr;
    QString path_;
    QString error_;
    qint64 mergedHour_ = std::numeric_limits<qint64>::min();
    QTimeZone zone_ = QTimeZone::systemTimeZone();
};
