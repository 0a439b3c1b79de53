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
    State &next = out.next;
    auto &counters = next.counters;
    // Whether a save read the table since the store was made or history
    // last went on, and whether in this boot.
    const bool read = saved.table.has_value();
    const bool sameBoot = read && !in.bootId.isEmpty() && saved.table->bootId == in.bootId;
    // Links known to have gone, in this save or settled by an earlier one:
    // an index of theirs that turns up again is a new link's, never theirs
    // renamed.
    std::set<LinkKey> gone, lastCounters;
    for (const Event &e : in.events) {
        if (e.kind == Event::Gone || e.kind == Event::Tick)
            gone.insert({e.link.counter.linkIndex, e.link.name});
        if (e.kind == Event::Gone)
            lastCounters.insert({e.link.counter.linkIndex, e.link.name});
    }
    const auto knownGone = [&](const LinkKey &key) {
        return gone.count(key) || next.gone.count(key);
    };

    // What a link's reading counts from; present: the link is in the table
    // now, not gone.
    const auto baseOf = [&](const Link &link, bool present) -> std::optional<Counter> {
        const qint32 index = link.counter.linkIndex;
        const auto own = counters.find(link.name);
        if (own != counters.end() && own->second.linkIndex == index &&
            own->second.bootId == in.bootId)
            return own->second; // the same link as at the last save
        const auto before = sameBoot ? saved.links.find(index) : saved.links.end();
        const bool listed = before != saved.links.end();
        // Renamed since: a counter saved in this boot under another name
        // for this index, whose link is not known to have gone, and which
        // the last save read under that name (a link there now that the
        // last save did not read came up since; one gone may have been
        // renamed and gone between two saves of another copy). The history
        // goes on under the new name; the old name keeps what it had and
        // loses its counter (unless this save gave it a new link already),
        // so that nothing counts twice should the link take that name
        // again. Taken from the saved counters, before this save changed any.
        for (const auto &[name, c] : saved.counters) {
            if (name == link.name || c.linkIndex != index || c.bootId != in.bootId ||
                in.bootId.isEmpty() || knownGone({index, name}) ||
                (listed ? before->second != name : sameBoot && present))
                continue;
            const auto now = counters.find(name);
            if (now != counters.end() && sameCounts(now->second, c))
                counters.erase(now);
            return c;
        }
        if (own != counters.end())
            return own->second; // another link under the name, or another boot
        if (!read || (listed && !knownGone({index, before->second})))
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
        const Link &link = e.link;
        const LinkKey key{link.counter.linkIndex, link.name};
        switch (e.kind) {
        case Event::Join:
            if (!counters.count(link.name))
                keep(link);
            break;
        case Event::Leave:
            add(link.name, count(baseOf(link, true), link.counter));
            counters.erase(link.name);
            break;
        case Event::Gone:
        case Event::Tick: {
            // A link not recorded: only its index matters, above. The
            // system's last counters make a tick's, older, needless.
            if (!link.recorded || (e.kind == Event::Tick && lastCounters.count(key)))
                break;
            // Another copy may have settled this link's going already:
            // then only what its last counters add to that copy's.
            const auto settled = next.gone.find(key);
            const auto base =
                settled != next.gone.end() ? std::optional(settled->second) : baseOf(link, false);
            const Count c = count(base, link.counter, e.kind == Event::Tick, e.kind == Event::Gone);
            add(link.name, c);
            if (c.kind == CountKind::Stale)
                break;
            next.gone[key] = link.counter;
            const auto own = counters.find(link.name);
            if (own == counters.end() || own->second.linkIndex == key.first)
                keep(link);
            break;
        }
        }
    }
    if (in.tableRead) {
        for (const Link &link : in.table) {
            if (!link.recorded) {
                counters.erase(link.name);
                continue;
            }
            const auto base = baseOf(link, true);
            // Another link under the name: the one before has gone, as far
            // as this save can tell from its last saved counters. A copy
            // that saw it go adds what it moved since.
            if (base && base->bootId == in.bootId && base->linkIndex != link.counter.linkIndex)
                next.gone.try_emplace({base->linkIndex, link.name}, *base);
            add(link.name, count(base, link.counter));
            keep(link);
        }
        next.links.clear();
        for (const Link &link : in.table)
            next.links[link.counter.linkIndex] = link.name;
        next.table = Counter{in.bootId, 0, 0, 0, in.bootMs};
    }
    // Gone links are remembered for the other copies' saves, which come
    // within minutes: a day in this boot is plenty.
    std::erase_if(next.gone, [&](const auto &g) {
        return g.second.bootId != in.bootId || in.bootMs - g.second.bootMs > kGoneKeptMs;
    });
    if (in.pause)
        next = State();
    return out;
}

} // namespace Ledger
