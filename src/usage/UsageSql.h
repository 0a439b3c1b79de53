#pragma once

// What the store's two source files share: SQLite statements that finalise
// themselves, and how 64-bit counters are kept.

#include <QByteArray>
#include <sqlite3.h>

namespace UsageSql {

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
inline qint64 toStored(quint64 v) {
    return qint64(v);
}
inline quint64 fromStored(qint64 v) {
    return quint64(v);
}

// Whether the last failure on db was another program's lock.
inline bool busy(sqlite3 *db) {
    const int code = sqlite3_extended_errcode(db) & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

} // namespace UsageSql
