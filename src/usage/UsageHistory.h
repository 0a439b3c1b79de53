#pragma once

#include <QByteArray>
#include <QDate>
#include <QSet>
#include <QTime>
#include <QtGlobal>
#include <vector>

// Bytes one interface moved in one period of the user's calendar: a local day,
// a local month (period is then the month's first day), a year (its first
// day), or an hour (period is the local date it starts on, hour the local
// time it starts at).
struct UsageTotal {
    QDate period;
    quint64 received = 0;
    quint64 sent = 0;
    // False for a period that ended before the interface's first record: its
    // zeros say "nothing known", not "nothing used".
    bool known = true;
    QTime hour = {}; // valid for an hour only
};

// Read access to the usage history, for the report and the Usage window,
// and the choice of what it records.
// Interfaces are named by the kernel's bytes, not by index, so that a link
// re-created under a new index keeps its history. The answers include what
// has been counted but not yet saved, so a reader sees the latest tick.
class UsageHistory {
public:
    virtual ~UsageHistory() = default;

    // Whether history can be read at all (false: off, or the store is unusable).
    virtual bool available() const = 0;

    // One entry per local day from first to last inclusive, oldest first;
    // days without traffic are there with zeros, those before the first
    // record of the interface marked as not known.
    virtual std::vector<UsageTotal> days(const QByteArray &interfaceName, QDate first,
                                         QDate last) const = 0;

    // One entry per local month from the month of first to that of last
    // inclusive, oldest first, months without traffic with zeros.
    virtual std::vector<UsageTotal> months(const QByteArray &interfaceName, QDate first,
                                           QDate last) const = 0;

    // The last count hours up to the current one, oldest first: whole UTC
    // hours, told by their local start (a zone half an hour off UTC starts
    // them at half past), so that each holds exactly one hour in every zone
    // and on the days the clocks change. Hours that ended before the
    // interface's first record are marked as not known.
    virtual std::vector<UsageTotal> hours(const QByteArray &, int /*count*/) const { return {}; }

    // The count busiest local days on record (received and sent together),
    // busiest first; fewer when fewer days hold traffic.
    virtual std::vector<UsageTotal> topDays(const QByteArray &, int /*count*/) const { return {}; }

    // The local day of the interface's first record; today when none is
    // saved yet, invalid when nothing is known.
    virtual QDate firstDay(const QByteArray &) const { return {}; }

    // Whether history is being recorded ("KeepHistory"). While it is not,
    // what was kept stays readable but stands still.
    virtual bool recording() const { return true; }
    // Whether the traffic of this interface is being recorded now.
    virtual bool records(const QByteArray &) const { return recording(); }
    // The interfaces recorded because the user named them ("HistoryInterfaces").
    virtual QSet<QByteArray> namedInterfaces() const { return {}; }
    // Chooses what is recorded, from now on and at the next start.
    virtual void setRecording(bool, const QSet<QByteArray> &) {}
};
