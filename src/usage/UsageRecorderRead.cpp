// The reading side of the recorder: the history's totals, from the store
// plus what was counted and not yet saved.
#include "usage/UsageRecorder.h"

#include "adapters/InterfaceSource.h"
#include "usage/UsagePlatform.h"

#include <QDateTime>
#include <limits>

std::vector<UsageRules::Period> UsageRecorder::periods(const QByteArray &name, qint64 from,
                                                       qint64 to) const {
    std::vector<UsageRules::Period> rows = store_->periods(name, from, to);
    // What the latest tick measured and no save holds yet; a reader, with
    // no tick, asks the system. Only while the name is recorded: what a
    // link moves while it is not is never counted.
    std::optional<Ledger::Counter> read;
    if (records(name)) {
        const auto sample = samples_.find(name);
        if (options_.reader)
            read = systemCounter(name);
        else if (sample != samples_.end())
            read = sampleCounter(sample->second);
    }
    const auto c =
        read ? Ledger::count(store_->counter(name), *read, !options_.reader) : Ledger::Count();
    const qint64 now = UsageRules::periodStart(platform_.utcNow(), UsageRules::kFine);
    if ((c.received || c.sent) && now >= from && now < to)
        rows.push_back({now, UsageRules::kFine, c.received, c.sent});
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
    const auto [from, to] = UsageRules::span(first, last, options_.zone);
    return UsageRules::days(periods(interfaceName, from, to), first, last, options_.zone, since);
}

std::vector<UsageTotal> UsageRecorder::months(const QByteArray &interfaceName, QDate first,
                                              QDate last) const {
    if (!available())
        return {};
    const QDate since = firstDay(interfaceName);
    const auto [from, to] = UsageRules::span(first, last, options_.zone);
    return UsageRules::months(periods(interfaceName, from, to), first, last, options_.zone, since);
}

std::vector<UsageTotal> UsageRecorder::hours(const QByteArray &interfaceName, int count) const {
    if (!available() || count <= 0)
        return {};
    const qint64 now = platform_.utcNow();
    const qint64 from =
        UsageRules::periodStart(now, UsageRules::kHour) - (count - 1) * UsageRules::kHour;
    const auto first = store_->firstPeriod(interfaceName);
    return UsageRules::hours(periods(interfaceName, from, from + count * UsageRules::kHour), from,
                             count, options_.zone, first ? first->start : now);
}

std::vector<UsageTotal> UsageRecorder::topDays(const QByteArray &interfaceName, int count) const {
    if (!available())
        return {};
    // Every row of the name: at most a few days of five minutes and 400
    // days of hours, a year's days beyond, summed here by local day.
    return UsageRules::topDays(periods(interfaceName, std::numeric_limits<qint64>::min(),
                                       std::numeric_limits<qint64>::max()),
                               count, options_.zone);
}
