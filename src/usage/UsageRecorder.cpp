#include "usage/UsageRecorder.h"

#include "adapters/InterfaceSource.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "usage/UsagePlatform.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

namespace {

void say(const QString &line) {
    std::fputs(QStringLiteral("zarn-bandwidth: %1\n").arg(line).toLocal8Bit().constData(), stderr);
}

} // namespace

UsageRecorder::Options UsageRecorder::optionsFromSettings() {
    Options o;
    o.record = Conversions::textToFlag(
                   Registry::readSetting(QStringLiteral("KeepHistory"), QStringLiteral("1")))
                   .value_or(true);
    o.named = UsageRules::namedInterfaces(
        Registry::readSetting(QStringLiteral("HistoryInterfaces"), QString()));
    return o;
}

QString UsageRecorder::storePath(UsagePlatform &platform) {
    return platform.dataFolder() + QStringLiteral("/usage.sqlite");
}

UsageRecorder::UsageRecorder(InterfaceSource &interfaces, UsagePlatform &platform, Options options,
                             QObject *parent)
    : QObject(parent), interfaces_(interfaces), platform_(platform), options_(options) {
    timer_.setTimerType(Qt::VeryCoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &UsageRecorder::saveNow);
}

UsageRecorder::~UsageRecorder() = default;

void UsageRecorder::start() {
    QString why;
    const QString path = storePath(platform_);
    if (!options_.record) {
        // Recording is off, but what was kept stays readable. Nothing is
        // said: the caller asked only to read.
        store_ = UsageStore::open(path, UsageStore::Mode::Read, why);
        error_ = why;
        return;
    }
    store_ = UsageStore::open(path, UsageStore::Mode::Record, why);
    if (!store_) {
        turnOff(why);
        return;
    }
    for (const QByteArray &name : store_->names())
        known_.insert(name);
    if (saveNow())
        timer_.start(options_.savePeriodMs);
}

void UsageRecorder::turnOff(const QString &why) const {
    if (!error_.isEmpty())
        return;
    error_ = why;
    if (!options_.record)
        return; // a reader: the caller tells the user
    store_.reset();
    say(QStringLiteral("usage history is off: %1").arg(why));
}

bool UsageRecorder::available() const {
    return store_ && !store_->failed();
}

void UsageRecorder::saveSoon() {
    if (saveQueued_ || !store_ || !options_.record)
        return;
    saveQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        saveQueued_ = false;
        saveNow();
    });
}

void UsageRecorder::sampled(const TickSample &sample) {
    if (!store_ || !options_.record)
        return;
    if (!sample.name.isEmpty()) {
        if (sample.name != selected_)
            noteSelected_ = true;
        selected_ = sample.name;
        selectedIndex_ = sample.index;
        // First sight of an interface: its counters become the base at
        // once, so that a crash soon after loses nothing the kernel counts.
        if (!sighted_.contains(sample.name)) {
            sighted_.insert(sample.name);
            if (!known_.contains(sample.name))
                saveSoon();
        }
    } else if (sample.index != 0 && sample.index == selectedIndex_ && !selected_.isEmpty()) {
        // The tick could not read the selected interface: it went away, and
        // its last totals are only in the last sample now.
        gone_ = selected_;
        selectedIndex_ = 0;
        saveSoon();
    }
    if (sample.measured)
        samples_[sample.name] = {sample.index, quint64(sample.recvTotal), quint64(sample.sentTotal),
                                 platform_.bootMs()};
}

UsageRules::Reading UsageRecorder::sampleReading(const Sample &sample) const {
    UsageRules::Reading r;
    r.counter = {platform_.bootId(), sample.index, sample.received, sample.sent, sample.bootMs};
    r.lagging = true;
    return r;
}

std::vector<UsageStore::Named> UsageRecorder::readCounters() {
    std::vector<UsageStore::Named> out;
    // The selected interface that went away: its last tick stands in for
    // the counters the kernel no longer has. It goes first, so that a link
    // back under the name already counts from zero after it.
    const auto last = samples_.find(gone_);
    if (last != samples_.end() && known_.contains(gone_))
        out.push_back({gone_, sampleReading(last->second)});
    std::vector<InterfaceRow> rows;
    if (interfaces_.interfaceTable(rows) != TableResult::Ok)
        return out;
    const QByteArray boot = platform_.bootId();
    const qint64 now = platform_.bootMs();
    QSet<QByteArray> present;
    for (const InterfaceRow &row : rows) {
        if (row.name.isEmpty() ||
            !UsageRules::counted(platform_.linkKind(row.name, row.type), row.name, options_.named))
            continue;
        UsageRules::Reading r;
        r.counter = {boot, row.index, row.inOctets, row.outOctets, now};
        r.speed = platform_.linkSpeed(row.name);
        // A link that was not there at the last save came up since (a VPN
        // that connects): all it counted is new. At start-up nothing is
        // known of a link's past, so its first sighting only sets the base.
        std::optional<UsageRules::Counter> base;
        if (lastTable_ && !present_.contains(row.name))
            base = lastTable_;
        out.push_back({row.name, r, base});
        present.insert(row.name);
    }
    present_ = present;
    lastTable_ = UsageRules::Counter{boot, 0, 0, 0, now};
    return out;
}

bool UsageRecorder::saveNow() {
    if (!store_ || !options_.record)
        return false;
    if (noteSelected_ && !selected_.isEmpty() && store_->setNote("selected", selected_))
        noteSelected_ = false;
    std::vector<UsageStore::Dropped> dropped;
    std::vector<UsageStore::Named> saved;
    const bool ok = store_->save(
        [this, &saved] {
            saved = readCounters();
            return saved;
        },
        platform_.utcNow(), &dropped);
    if (!ok) {
        turnOff(store_->error());
        return false;
    }
    for (const auto &n : saved)
        known_.insert(n.name);
    if (!gone_.isEmpty()) {
        samples_.erase(gone_);
        gone_.clear();
    }
    for (const auto &d : dropped)
        say(QStringLiteral("usage history: dropped %1 received and %2 sent bytes on %3, more "
                           "than the link carries in %4 s")
                .arg(d.count.received)
                .arg(d.count.sent)
                .arg(QString::fromUtf8(d.name))
                .arg(d.count.seconds));
    return true;
}

std::vector<UsageRules::Period> UsageRecorder::periods(const QByteArray &name, QDate first,
                                                       QDate last) const {
    const auto [from, to] = UsageRules::span(first, last, options_.zone);
    std::vector<UsageRules::Period> rows = store_->periods(name, from, to);
    // What the latest tick measured and no save holds yet.
    const auto sample = samples_.find(name);
    if (options_.record && sample != samples_.end()) {
        const auto c = UsageRules::count(store_->counter(name), sampleReading(sample->second));
        if (c.adds())
            rows.push_back({UsageRules::periodStart(platform_.utcNow(), UsageRules::kFine),
                            UsageRules::kFine, c.received, c.sent});
    }
    if (store_->failed())
        turnOff(store_->error());
    return rows;
}

std::vector<UsageTotal> UsageRecorder::days(const QByteArray &interfaceName, QDate first,
                                            QDate last) const {
    if (!available())
        return {};
    return UsageRules::days(periods(interfaceName, first, last), first, last, options_.zone);
}

std::vector<UsageTotal> UsageRecorder::months(const QByteArray &interfaceName, QDate first,
                                              QDate last) const {
    if (!available())
        return {};
    return UsageRules::months(periods(interfaceName, first, last), first, last, options_.zone);
}

bool UsageRecorder::records(const QByteArray &interfaceName) const {
    if (!options_.record || !available() || interfaceName.isEmpty())
        return false;
    auto kind = kinds_.constFind(interfaceName);
    if (kind == kinds_.cend()) {
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
        kind = kinds_.insert(interfaceName, found);
    }
    return UsageRules::counted(*kind, interfaceName, options_.named);
}

void UsageRecorder::setRecording(bool keep, const QSet<QByteArray> &named) {
    if (keep != options_.record)
        Registry::writeSetting(QStringLiteral("KeepHistory"),
                               keep ? QStringLiteral("1") : QStringLiteral("0"));
    if (named != options_.named) {
        QList<QByteArray> names(named.begin(), named.end());
        std::sort(names.begin(), names.end());
        Registry::writeSetting(QStringLiteral("HistoryInterfaces"),
                               QString::fromUtf8(names.join(' ')));
    }
    const bool was = options_.record;
    if (was && !keep)
        saveNow(); // what was counted until now stays in the history
    options_.record = keep;
    options_.named = named;
    if (!keep) {
        timer_.stop();
    } else if (!was) {
        // The store was opened to read only, or not at all.
        store_.reset();
        error_.clear();
        start();
    } else {
        saveSoon();
    }
}
