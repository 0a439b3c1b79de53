#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// What a save of the usage history counts, decided in one place: given what
// the store holds and what the save read, the bytes to add to each name and
// the state to keep. docs/usage-history.md states the rules and the losses
// that remain; each rule is a case in settle().
namespace Ledger {

// A link's counters as read, and when and where: the kernel's boot, the
// link's index in it and the time since boot.
struct Counter {
    QByteArray bootId;
    qint32 linkIndex = 0;
    quint64 received = 0;
    quint64 sent = 0;
    qint64 bootMs = 0;
};

// A link in the interface table as a save reads it.
struct Link {
    QByteArray name;
    Counter counter;
    bool recorded = false; // counted, or named by the user, while history is on
};

// Something that happened to a recorded link since the last save, with the
// counters it had then.
struct Event {
    enum Kind {
        Gone,  // went away; the counters are its last ones
        Tick,  // went away; the counters are the last tick's, maybe older than a save
        Leave, // stopped being recorded (unticked, or history switched off)
        Join,  // started being recorded (ticked): its counters become the base
    };
    Kind kind = Gone;
    Link link; // recorded false: a link not recorded went, only its index matters
};

// A link by its index and name.
using LinkKey = std::pair<qint32, QByteArray>;

// What the store holds between saves.
struct State {
    std::map<QByteArray, Counter> counters; // per name, the last counters saved
    std::map<qint32, QByteArray> links;     // the links the last save read, by index
    std::optional<Counter> table;           // when that save read them (boot, time)
    // Links whose going a save counted, with their last counters: another
    // copy that saw them go adds only what its reading has beyond these.
    std::map<LinkKey, Counter> gone;
};

// How long a gone link is remembered (ms since boot).
constexpr qint64 kGoneKeptMs = 24 * 3600 * 1000;

struct Input {
    QByteArray bootId;
    qint64 bootMs = 0;
    std::vector<Event> events; // in the order they happened
    bool tableRead = false;    // false: the table could not be read
    std::vector<Link> table;   // every link, recorded or not
    bool pause = false;        // history goes off: count, then keep no counters
};

struct Added {
    quint64 received = 0;
    quint64 sent = 0;
};

struct Outcome {
    std::map<QByteArray, Added> added; // bytes to add to each name's current period
    State next;
};

Outcome settle(const State &saved, const Input &input);

// How a reading relates to the counter saved for its name.
enum class CountKind {
    First,  // nothing saved: the reading becomes the base
    Delta,  // the same link in the same boot: the growth since the save
    Reset,  // a lower counter or another link under the name: from zero
    Reboot, // another boot: everything since boot
    Stale,  // a reading that may be older than the save, and reads lower: nothing
};
struct Count {
    CountKind kind = CountKind::First;
    quint64 received = 0;
    quint64 sent = 0;
};
// lagging: the reading may be older than the saved counter (a tick's
// totals). last: the link's counters as it went away; a direction that
// reads lower than saved adds nothing (a veth's received side goes with its
// peer). Counters are 64-bit and never wrap, so a fall is a reset.
Count count(const std::optional<Counter> &saved, const Counter &now, bool lagging = false,
            bool last = false);

} // namespace Ledger
