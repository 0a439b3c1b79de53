#include "usage/Ledger.h"

#include <set>
#include <utility>

namespace Ledger {

namespace {

bool sameCounts(const Counter &a, const Counter &b) {
    return a.bootId == b.bootId && a.linkIndex == b.linkIndex && a.received == b.received &&
           a.sent == b.sent;
}

} // namespace

bool State::operator==(const State &o) const {
    const auto sameCounters = [](const auto &a, const auto &b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](const auto &x, const auto &y) {
                   return x.first == y.first && sameCounts(x.second, y.second);
               });
    };
    return sameCounters(counters, o.counters) && links == o.links &&
           table.has_value() == o.table.has_value() &&
           (!table || (table->bootId == o.table->bootId && table->bootMs == o.table->bootMs));
}

Count count(const std::optional<Counter> &saved, const Counter &now, bool lagging, bool last) {
    Count c;
    if (!saved)
        return c;
    // Where the system names no boot (Windows without its boot counter, as
    // under Wine), a time since boot that went back tells the reboot; a
    // lagging reading may be older than the save, so not for it.
    const bool timeWentBack = now.bootId.isEmpty() && !lagging && now.bootMs < saved->bootMs;
    if (saved->bootId != now.bootId || timeWentBack) {
        c.kind = CountKind::Reboot;
    } else if (last && saved->linkIndex == now.linkIndex) {
        c.kind = CountKind::Delta;
        c.received = now.received > saved->received ? now.received - saved->received : 0;
        c.sent = now.sent > saved->sent ? now.sent - saved->sent : 0;
        return c;
    } else if (saved->linkIndex != now.linkIndex || now.received < saved->received ||
               now.sent < saved->sent) {
        c.kind = lagging ? CountKind::Stale : CountKind::Reset;
    } else {
        c.kind = CountKind::Delta;
        c.received = now.received - saved->received;
        c.sent = now.sent - saved->sent;
        return c;
    }
    if (c.kind != CountKind::Stale) {
        c.received = now.received;
        c.sent = now.sent;
    }
    return c;
}

Outcome settle(const State &saved, const Input &in) {
    Outcome out;
    out.next = saved;
    auto &counters = out.next.counters;
    // Whether a save read the table since the store was made or history
    // last went on, and whether in this boot.
    const bool read = saved.table.has_value();
    const bool sameBoot = read && !in.bootId.isEmpty() && saved.table->bootId == in.bootId;
    // Links known to have gone: an index of theirs that turns up again
    // under another name is a new link's, not theirs renamed.
    std::set<std::pair<qint32, QByteArray>> gone;
    for (const Event &e : in.events)
        if (e.kind == Event::Gone || e.kind == Event::Tick)
            gone.insert({e.link.counter.linkIndex, e.link.name});

    // What a link's reading counts from.
    const auto baseOf = [&](const Link &link) -> std::optional<Counter> {
        const qint32 index = link.counter.linkIndex;
        const auto before = sameBoot ? saved.links.find(index) : saved.links.end();
        const bool there = before != saved.links.end();
        const bool renamed =
            there && before->second != link.name && !gone.count({index, before->second});
        if (renamed) {
            // The history goes on under the new name; the old name keeps
            // what it had and loses its counter (unless this save gave it a
            // new link already), so nothing counts twice should the link
            // take that name again. Taken from the saved counters, before
            // this save changed any.
            const auto old = saved.counters.find(before->second);
            if (old != saved.counters.end() && old->second.bootId == in.bootId &&
                old->second.linkIndex == index) {
                const auto now = counters.find(before->second);
                if (now != counters.end() && sameCounts(now->second, old->second))
                    counters.erase(now);
                return old->second;
            }
        }
        const auto own = counters.find(link.name);
        if (own != counters.end())
            return own->second;
        if (!read || renamed || (there && before->second == link.name))
            return std::nullopt;                   // there, but not recorded until now: from now on
        return Counter{in.bootId, index, 0, 0, 0}; // came up since the last save read the table
    };
    const auto keep = [&](const Link &link) {
        auto &c = counters[link.name];
        if (!sameCounts(c, link.counter))
            c = link.counter;
    };
    const auto add = [&](const QByteArray &name, const Count &c) {
        if (!c.received && !c.sent)
            return;
        Added &a = out.added[name];
        a.received += c.received;
        a.sent += c.sent;
    };

    for (const Event &e : in.events) {
        const auto base = baseOf(e.link);
        if (e.kind == Event::Join) {
            if (!counters.count(e.link.name))
                keep(e.link);
            continue;
        }
        const Count c = count(base, e.link.counter, e.kind == Event::Tick, e.kind == Event::Gone);
        add(e.link.name, c);
        if (e.kind == Event::Leave)
            counters.erase(e.link.name);
        else if (c.kind != CountKind::Stale)
            keep(e.link);
    }
    if (in.tableRead) {
        for (const Link &link : in.table) {
            if (!link.recorded) {
                counters.erase(link.name);
                continue;
            }
            add(link.name, count(baseOf(link), link.counter));
            keep(link);
        }
        out.next.links.clear();
        for (const Link &link : in.table)
            out.next.links[link.counter.linkIndex] = link.name;
        out.next.table = Counter{in.bootId, 0, 0, 0, in.bootMs};
    }
    if (in.pause)
        out.next = State();
    return out;
}

} // namespace Ledger
