// The usage history as readers see it: the store's periods, plus what the
// latest tick (or, for a reader that does not record, the kernel) counted
// since the last save.

#include "adapters/InterfaceSource.h"
#include "usage/UsagePlatform.h"
#include "usage/UsageRecorder.h"

#include <algorithm>

std::vector<UsageRules::Period> UsageRecorder::periods(const QByteArray &name, QDate first,
                                                       QDate last) const {
    const auto [from, to] = UsageRules::span(first, last, options_.zone);
    std::vector<UsageRules::Period> rows = store_->periods(name, from, to);
    // What the latest tick measured and no save holds yet; a reader, with
    // no tick, asks the system. Only while the name is recorded: what a
    // link moves while it is not is never counted.
    std::optional<Ledger::Counter> now;
    if (records(name)) {
        const auto sample = samples_.find(name);
        if (options_.reader)
            now = systemCounter(name);
        else if (sample != samples_.end())
            now = sampleCounter(sample->second);
    }
    const auto c =
        now ? Ledger::count(store_->counter(name), *now, !options_.reader) : Ledger::Count();
    if (c.received || c.sent)
        rows.push_back({UsageRules::periodStart(platform_.utcNow(), UsageRules::kFine),
                        UsageRules::kFine, c.received, c.sent});
    if (store_->failed())
        turnOff(store_->error());
    return rows;
}

std::optional<Ledger::Counter> UsageRecorder::systemCounter(const QByteArray &name) const {
    // Only the link the saved counter belongs to: counting another one that
    // took the name, or a link of an earlier boot, is for the next save.
    const auto saved = store_->counter(name);
    InterfaceRow row;
    if (!saved || saved->bootId.isEmpty() || saved->bootId != platform_.bootId() ||
        !interfaces_.interfaceRow(saved->linkIndex, row, InterfaceSource::Detail::Counters) ||
        row.name != name)
        return std::nullopt;
    return Ledger::Counter{saved->bootId, row.index, row.inOctets, row.outOctets,
                           platform_.bootMs()};
}

QDate UsageRecorder::firstDay(const QByteArray &name) const {
    if (const auto known = firstDays_.constFind(name); known != firstDays_.cend())
        return *known;
    if (const auto first = store_ ? store_->firstPeriod(name) : std::nullopt) {
        const QDate day = UsageRules::dayOf(*first, options_.zone);
        firstDays_.insert(name, day);
        return day;
    }
    return QDateTime::fromSecsSinceEpoch(platform_.utcNow(), options_.zone).date();
}

std::vector<UsageTotal> UsageRecorder::days(const QByteArray &interfaceName, QDate first,
                                            QDate last) const {
    if (!available())
        return {};
    const QDate since = firstDay(interfaceName);
    return UsageRules::days(periods(interfaceName, first, last), first, last, options_.zone, since);
}

std::vector<UsageTotal> UsageRecorder::months(const QByteArray &interfaceName, QDate first,
                                              QDate last) const {
    if (!available())
        return {};
    const QDate since = firstDay(interfaceName);
    return UsageRules::months(periods(interfaceName, first, last), first, last, options_.zone,
                              since);
}

bool UsageRecorder::records(const QByteArray &interfaceName) const {
    if (!options_.record || !available() || interfaceName.isEmpty())
        return false;
    auto kind = kindsByName_.constFind(interfaceName);
    if (kind == kindsByName_.cend()) {
        // The kind needs the link's type, from the interface table: read
        // once per name, since the data cap asks at every tick.
        std::vector<InterfaceRow> rows;
        if (interfaces_.interfaceTable(rows) != TableResult::Ok)
            return UsageRules::counted(UsageRules::LinkKind::Counted, interfaceName,
                                       options_.named);
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const InterfaceRow &r) {
            return r.name == interfaceName;
        });
        const auto found = platform_.linkKind(interfaceName, row == rows.end() ? 0 : row->type);
        if (row == rows.end()) // gone: it may come back as another kind
            return UsageRules::counted(found, interfaceName, options_.named);
        kind = kindsByName_.insert(interfaceName, found);
    }
    return UsageRules::counted(*kind, interfaceName, options_.named);
}
