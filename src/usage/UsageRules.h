#pragma once

#include "usage/UsageHistory.h"

#include <QByteArray>
#include <QDate>
#include <QSet>
#include <QString>
#include <QTimeZone>
#include <QtGlobal>
#include <optional>
#include <vector>

// The arithmetic of the usage history, free of the store and the system so
// that each rule has a table test.
namespace UsageRules {

// The last counter values saved for one interface, and when and where they
// were read: the kernel's boot, the link's index in it, and the time since
// boot (a clock that the user cannot set and that counts suspend).
struct Counter {
    QByteArray bootId;
    qint32 linkIndex = 0;
    quint64 received = 0;
    quint64 sent = 0;
    qint64 bootMs = 0;
};

// Counters as read now. lagging marks a reading that may be older than what
// another copy of the program saved meanwhile (a tick's totals rather than
// a read inside the save): a lower value is then stale, not a reset.
// last marks the counters a link had as it went away: a direction that reads
// lower than saved then adds nothing instead of counting from zero (a veth
// takes its received side from its peer, which goes with it).
struct Reading {
    Counter counter;
    quint64 speed = 0; // link speed in bit/s; 0 when unknown
    bool lagging = false;
    bool last = false;
};

enum class CountKind {
    First,       // never seen: the values become the base, nothing is counted
    Delta,       // the same link in the same boot: the growth since the last save
    Reset,       // a lower counter or another link under the name: counts from zero
    Reboot,      // another boot: everything since boot
    Stale,       // a lagging reading below the saved one: nothing
    Implausible, // more than the link could carry: dropped
};

struct Count {
    CountKind kind = CountKind::First;
    quint64 received = 0;
    quint64 sent = 0;
    quint64 limit = 0; // bytes the link could have carried, for the Implausible note
    qint64 seconds = 0;
    bool adds() const; // whether this adds bytes to the history
};

// Assumed for links that do not tell their speed, and the least any link is
// taken to carry.
constexpr quint64 kUnknownSpeed = Q_UINT64_C(10000000000);

// What reading adds to the history, given the last saved counter (none for
// an interface never seen). Counters are 64-bit and never wrap in practice,
// so a lower value is a reset, never a wrap.
Count count(const std::optional<Counter> &saved, const Reading &reading);

// Period lengths kept in the store, in seconds: fine periods for the last
// days, hours for the last year, whole UTC days beyond.
constexpr qint64 kFine = 300;
constexpr qint64 kHour = 3600;
constexpr qint64 kDay = 86400;
// How long each length is kept before it is merged into the next.
constexpr qint64 kKeepFine = 2 * kDay;
constexpr qint64 kKeepHours = 400 * kDay;

// The start of the period of length that holds utcSeconds (floor, also
// before 1970).
qint64 periodStart(qint64 utcSeconds, qint64 length);

// The start of the longer period (kHour or kDay) that a row starting at start
// is merged into. Local days must stay exact in every zone, also those half
// or three quarters of an hour off UTC: an hour is the UTC hour, cut at a
// local midnight inside it; a day is the local day.
qint64 mergedStart(qint64 start, qint64 length, const QTimeZone &zone);

// One stored period.
struct Period {
    qint64 start = 0; // UTC seconds
    qint64 length = 0;
    quint64 received = 0;
    quint64 sent = 0;
};

// Totals per local calendar period. Rows are assigned to the local day (or
// month) in which they start; whole days that start at a UTC midnight (as an
// older version merged them) to their own date. A day that gains or loses an hour to daylight
// saving simply has 25 or 23 hours of periods.
using Total = UsageTotal;
std::vector<Total> days(const std::vector<Period> &rows, QDate first, QDate last,
                        const QTimeZone &zone);
std::vector<Total> months(const std::vector<Period> &rows, QDate first, QDate last,
                          const QTimeZone &zone);

// The UTC span [from, to) that holds every row days() or months() can use.
std::pair<qint64, qint64> span(QDate first, QDate last, const QTimeZone &zone);

// Which links are counted: every one a user pays for, but not the loopback,
// container veths and bridges, which only repeat traffic counted elsewhere,
// unless the user names them.
enum class LinkKind { Counted, Loopback, Veth, Bridge };
bool counted(LinkKind kind, const QByteArray &name, const QSet<QByteArray> &named);

// The names in the "HistoryInterfaces" text, separated by blanks.
QSet<QByteArray> namedInterfaces(const QString &text);

} // namespace UsageRules
