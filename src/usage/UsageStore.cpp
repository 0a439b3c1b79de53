#include "usage/UsageStore.h"

#include "usage/UsageSql.h"

#include <map>

using Ledger::Counter;
using UsageRules::Period;
using UsageSql::fromStored;
using UsageSql::Statement;
using UsageSql::toStored;

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
    Statement gone(db_, "SELECT interface, boot_id, link_index, received, sent, boot_ms"
                        " FROM gone");
    while ((rc = gone.step()) == SQLITE_ROW)
        if (const auto c = counterAt(gone, 1))
            state.gone[{c->linkIndex, gone.blob(0)}] = *c;
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
    for (const auto &[key, c] : after.gone) {
        if (before.gone.count(key))
            continue; // a gone link's last counters never change
        Statement s(db_, "INSERT OR REPLACE INTO gone VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
        s.bind(1, key.first)
            .bind(2, key.second)
            .bind(3, c.bootId)
            .bind(4, toStored(c.received))
            .bind(5, toStored(c.sent))
            .bind(6, c.bootMs);
        if (s.step() != SQLITE_DONE)
            return false;
    }
    for (const auto &[key, c] : before.gone) {
        if (after.gone.count(key))
            continue;
        Statement s(db_, "DELETE FROM gone WHERE link_index=?1 AND interface=?2");
        s.bind(1, key.first).bind(2, key.second);
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
        if (UsageSql::busy(db_))
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
    const bool wasBusy = UsageSql::busy(db_);
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
    return s.step() == SQLITE_DONE || (!UsageSql::busy(db_) && fail("saving a note"));
}
