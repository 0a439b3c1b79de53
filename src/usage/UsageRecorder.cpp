#include "usage/UsageRecorder.h"

#include "adapters/InterfaceSource.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "usage/UsagePlatform.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void say(const QString &line) {
    std::fputs(QStringLiteral("zarn-bandwidth: %1\n").arg(line).toLocal8Bit().constData(), stderr);
}

// The recorder that saves when the process ends without leaving the event
// loop: Qt's X11 platform calls exit(1) once the display has gone (the end
// of a session, a shutdown), and aboutToQuit never comes.
UsageRecorder *savesAtExit = nullptr;

void saveAtExit() {
    if (savesAtExit)
        savesAtExit->saveNow();
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
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &UsageRecorder::saveNow);
}

UsageRecorder::~UsageRecorder() {
    if (savesAtExit != this)
        return;
    savesAtExit = nullptr;
    interfaces_.watchLinks(nullptr);
}

void UsageRecorder::start() {
    QString why;
    const QString path = storePath(platform_);
    if (options_.reader) {
        // What was kept, read as it is. Nothing is said: the caller tells
        // the user.
        store_ = UsageStore::open(path, UsageStore::Mode::Read, why);
        error_ = why;
        return;
    }
    if (!options_.record) {
        // History is off: what was kept stays readable, and the store
        // keeps no counters, so that nothing moved meanwhile is ever
        // counted, by this copy or a later one.
        if (QFileInfo::exists(path))
            store_ = UsageStore::open(path, UsageStore::Mode::Record, why, options_.busyMs);
        if (store_) {
            pausing_ = true;
            saveNow();
        } else {
            store_ = UsageStore::open(path, UsageStore::Mode::Read, why);
        }
        error_ = store_ ? QString() : why;
        return;
    }
    store_ = UsageStore::open(path, UsageStore::Mode::Record, why, options_.busyMs);
    if (!store_) {
        turnOff(why);
        return;
    }
    store_->setZone(options_.zone);
    for (const QByteArray &name : store_->names())
        known_.insert(name);
    interfaces_.watchLinks([this](const InterfaceRow &row, bool gone) { linkChanged(row, gone); });
    static const bool hooked = std::atexit(saveAtExit) == 0;
    if (hooked)
        savesAtExit = this;
    saveNow();
    if (store_) // on, or only busy for now
        timer_.start(options_.savePeriodMs);
}

UsageRules::LinkKind UsageRecorder::kindOf(const InterfaceRow &row) {
    // Asked once per link: on Linux it is an ioctl, and a link that has
    // gone can no longer be asked.
    auto it = kinds_.find(row.index);
    if (it == kinds_.end())
        it = kinds_.emplace(row.index, platform_.linkKind(row.name, row.type)).first;
    return it->second;
}

bool UsageRecorder::counted(const InterfaceRow &row, const QSet<QByteArray> &named) {
    return !row.name.isEmpty() && UsageRules::counted(kindOf(row), row.name, named);
}

namespace {

Ledger::Link link(const InterfaceRow &row, UsagePlatform &platform, bool recorded) {
    return {row.name,
            {platform.bootId(), row.index, row.inOctets, row.outOctets, platform.bootMs()},
            recorded};
}

} // namespace

void UsageRecorder::linkChanged(const InterfaceRow &row, bool gone) {
    if (!store_ || !options_.record || row.index == 0)
        return;
    // Also a link not recorded: that it went tells a new link on its index
    // from a renamed one.
    const bool recorded = counted(row, options_.named);
    if (!gone)
        return;
    const UsageRules::LinkKind kind = kindOf(row);
    kinds_.erase(row.index);
    Ledger::Event e{Ledger::Event::Gone, link(row, platform_, recorded)};
    // A veth's received side reads 0 as it goes (its peer went with it): the
    // tick's last total stands in. Only there: another link's last counters
    // are right, and a tick may be older than a reset.
    const auto sample = samples_.find(row.name);
    if (kind == UsageRules::LinkKind::Veth && row.inOctets == 0 && sample != samples_.end() &&
        sample->second.index == row.index)
        e.link.counter.received = sample->second.received;
    events_.push_back(e);
    saveSoon();
}

void UsageRecorder::turnOff(const QString &why) const {
    if (!error_.isEmpty())
        return;
    error_ = why;
    if (options_.reader)
        return; // the caller tells the user
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
        selectedIndex_ = sample.index;
        // Tick after tick the name is the one before, sighted already.
        if (sample.name != selected_) {
            noteSelected_ = true;
            selected_ = sample.name;
            // First sight of an interface: its counters become the base at
            // once, so that a crash soon after loses nothing the kernel
            // counts.
            if (!sighted_.contains(sample.name)) {
                sighted_.insert(sample.name);
                if (!known_.contains(sample.name))
                    saveSoon();
            }
        }
    } else if (sample.index != 0 && sample.index == selectedIndex_ && !selected_.isEmpty()) {
        // The tick could not read the selected interface: it went away, and
        // where the system gives no last counters, its last totals are only
        // in the last sample now.
        const auto last = samples_.find(selected_);
        const auto kind = kinds_.find(selectedIndex_);
        if (last != samples_.end() && kind != kinds_.end() &&
            UsageRules::counted(kind->second, selected_, options_.named))
            events_.push_back(
                {Ledger::Event::Tick, {selected_, sampleCounter(last->second), true}});
        samples_.erase(selected_);
        selectedIndex_ = 0;
        saveSoon();
    }
    if (sample.measured)
        samples_[sample.name] = {sample.index, quint64(sample.recvTotal), quint64(sample.sentTotal),
                                 platform_.bootMs() - sample.lateMs};
}

Ledger::Counter UsageRecorder::sampleCounter(const Sample &sample) const {
    return {platform_.bootId(), sample.index, sample.received, sample.sent, sample.bootMs};
}

Ledger::Input UsageRecorder::readInput() {
    Ledger::Input in;
    in.bootId = platform_.bootId();
    in.bootMs = platform_.bootMs();
    in.events = events_;
    in.pause = pausing_;
    std::vector<InterfaceRow> rows;
    in.tableRead = interfaces_.interfaceTable(rows) == TableResult::Ok;
    if (in.tableRead)
        for (const InterfaceRow &row : rows)
            if (!row.name.isEmpty())
                in.table.push_back(
                    link(row, platform_, options_.record && counted(row, options_.named)));
    return in;
}

void UsageRecorder::busy() {
    // Time since boot: the wall clock may be set meanwhile.
    const qint64 now = platform_.bootMs();
    if (busySince_ < 0 || now < busySince_)
        busySince_ = now;
    else if (now - busySince_ >= 300000 && !busyTold_) {
        busyTold_ = true;
        say(QStringLiteral("usage history: another program has kept the store locked for "
                           "%1 minutes; what was counted is kept until it can be saved")
                .arg((now - busySince_) / 60000));
    }
    retry_.start(options_.retryMs);
}

bool UsageRecorder::saveNow() {
    if (!store_ || options_.reader || (!options_.record && !pausing_))
        return false;
    Ledger::Input in;
    const UsageStore::Saved saved = store_->save(
        [this, &in] {
            in = readInput();
            return in;
        },
        platform_.utcNow());
    if (saved == UsageStore::Saved::Busy) {
        busy();
        return false;
    }
    if (saved == UsageStore::Saved::Failed) {
        turnOff(store_->error());
        return false;
    }
    busySince_ = -1;
    busyTold_ = false;
    retry_.stop();
    events_.clear();
    pausing_ = false;
    for (const Ledger::Link &l : in.table)
        if (l.recorded)
            known_.insert(l.name);
    if (noteSelected_ && !selected_.isEmpty() && store_->setNote("selected", selected_))
        noteSelected_ = false;
    return options_.record;
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
    // Each link that leaves the record is counted up to now and keeps no
    // counter; each that joins counts from now. Taken now, so that a save
    // that has to wait for the store counts no more and no less.
    std::vector<InterfaceRow> rows;
    if (was && store_ && interfaces_.interfaceTable(rows) == TableResult::Ok) {
        for (const InterfaceRow &row : rows) {
            const bool before = counted(row, options_.named);
            const bool after = keep && counted(row, named);
            if (before != after)
                events_.push_back({after ? Ledger::Event::Join : Ledger::Event::Leave,
                                   link(row, platform_, after)});
        }
    }
    pausing_ = pausing_ || (was && !keep);
    options_.record = keep;
    options_.named = named;
    if (!keep) {
        timer_.stop();
        saveNow();
    } else if (!was) {
        // The store was opened to read only, or not at all.
        store_.reset();
        error_.clear();
        start();
    } else {
        saveNow();
    }
}
