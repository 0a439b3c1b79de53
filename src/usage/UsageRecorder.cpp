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

// "MS BOOT": when a save last read the interface table, and in which boot.
QByteArray tableNote(qint64 bootMs, const QByteArray &bootId) {
    return QByteArray::number(bootMs) + ' ' + bootId;
}

std::optional<UsageRules::Counter> fromTableNote(const QByteArray &note, const QByteArray &boot) {
    const qsizetype blank = note.indexOf(' ');
    bool ok = false;
    const qint64 ms = note.left(blank).toLongLong(&ok);
    if (!ok || blank < 0 || boot.isEmpty() || note.mid(blank + 1) != boot)
        return std::nullopt;
    return UsageRules::Counter{boot, 0, 0, 0, ms};
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

UsageRecorder::~UsageRecorder() {
    if (savesAtExit != this)
        return;
    savesAtExit = nullptr;
    interfaces_.watchLinks(nullptr);
}

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
    store_->setZone(options_.zone);
    rebase_ = rebase_ || store_->note("paused") == "1";
    for (const QByteArray &name : store_->names())
        known_.insert(name);
    interfaces_.watchLinks([this](const InterfaceRow &row, bool gone) { linkChanged(row, gone); });
    static const bool hooked = std::atexit(saveAtExit) == 0;
    if (hooked)
        savesAtExit = this;
    if (saveNow())
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

void UsageRecorder::linkChanged(const InterfaceRow &row, bool gone) {
    if (!store_ || !options_.record || row.index == 0)
        return;
    const UsageRules::LinkKind kind = kindOf(row);
    if (!gone)
        return;
    kinds_.erase(row.index);
    if (row.name.isEmpty() || !UsageRules::counted(kind, row.name, options_.named))
        return;
    UsageRules::Reading r;
    r.counter = {platform_.bootId(), row.index, row.inOctets, row.outOctets, platform_.bootMs()};
    r.last = true;
    // A veth's received side reads 0 as it goes (its peer went with it): the
    // tick's last totals stand in where they are higher.
    const auto sample = samples_.find(row.name);
    if (sample != samples_.end() && sample->second.index == row.index) {
        r.counter.received = std::max(r.counter.received, sample->second.received);
        r.counter.sent = std::max(r.counter.sent, sample->second.sent);
    }
    removed_.push_back({row.name, r});
    saveSoon();
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
        // its last totals are only in the last sample now.
        gone_ = selected_;
        selectedIndex_ = 0;
        saveSoon();
    }
    if (sample.measured)
        samples_[sample.name] = {sample.index, quint64(sample.recvTotal), quint64(sample.sentTotal),
                                 platform_.bootMs() - sample.lateMs};
}

UsageRules::Reading UsageRecorder::sampleReading(const Sample &sample) const {
    UsageRules::Reading r;
    r.counter = {platform_.bootId(), sample.index, sample.received, sample.sent, sample.bootMs};
    r.lagging = true;
    return r;
}

std::vector<UsageStore::Named> UsageRecorder::readCounters() {
    // First the links that went away, with the counters they had last; then
    // the selected interface that went away, whose last tick stands in where
    // the system gave none. So a link back under the name already counts
    // from zero after them.
    std::vector<UsageStore::Named> out = removed_;
    const auto last = samples_.find(gone_);
    if (last != samples_.end() && known_.contains(gone_))
        out.push_back({gone_, sampleReading(last->second)});
    std::vector<InterfaceRow> rows;
    if (interfaces_.interfaceTable(rows) != TableResult::Ok)
        return out;
    const QByteArray boot = platform_.bootId();
    const qint64 now = platform_.bootMs();
    // The last save that read the table, by this copy or another, and the
    // links there were then. A counted link not among them came up since (a
    // VPN that connects): all it counted is new. One that was there but not
    // counted (now chosen by the user), or one of an earlier boot, only sets
    // its base: its past is not known.
    const auto since = fromTableNote(store_->note("table"), boot);
    QSet<QByteArray> before;
    for (const QByteArray &name : store_->note("present").split('\0'))
        before.insert(name);
    QByteArrayList present;
    for (const InterfaceRow &row : rows) {
        if (row.name.isEmpty())
            continue;
        present << row.name;
        if (!UsageRules::counted(kindOf(row), row.name, options_.named))
            continue;
        UsageRules::Reading r;
        r.counter = {boot, row.index, row.inOctets, row.outOctets, now};
        r.speed = platform_.linkSpeed(row.name);
        out.push_back({row.name, r, before.contains(row.name) ? std::nullopt : since});
    }
    if (rebase_) {
        for (auto &n : out)
            n.rebase = true;
        store_->setNote("paused", QByteArray());
    }
    store_->setNote("table", tableNote(now, boot));
    std::sort(present.begin(), present.end());
    if (QSet<QByteArray>(present.begin(), present.end()) != before)
        store_->setNote("present", present.join('\0'));
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
    removed_.clear();
    rebase_ = false;
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
    // What the latest tick measured and no save holds yet; a reader, with
    // no tick, asks the system.
    const auto sample = samples_.find(name);
    std::optional<UsageRules::Reading> now;
    if (options_.record && sample != samples_.end())
        now = sampleReading(sample->second);
    else if (!options_.record)
        now = systemReading(name);
    const auto c = now ? UsageRules::count(store_->counter(name), *now) : UsageRules::Count();
    if (c.adds())
        rows.push_back({UsageRules::periodStart(platform_.utcNow(), UsageRules::kFine),
                        UsageRules::kFine, c.received, c.sent});
    if (store_->failed())
        turnOff(store_->error());
    return rows;
}

std::optional<UsageRules::Reading> UsageRecorder::systemReading(const QByteArray &name) const {
    // Only the link the saved counter belongs to: counting another one that
    // took the name, or a link of an earlier boot, is for the next save.
    const auto saved = store_->counter(name);
    InterfaceRow row;
    if (!saved || saved->bootId.isEmpty() || saved->bootId != platform_.bootId() ||
        !interfaces_.interfaceRow(saved->linkIndex, row, InterfaceSource::Detail::Counters) ||
        row.name != name)
        return std::nullopt;
    UsageRules::Reading r;
    r.counter = {saved->bootId, row.index, row.inOctets, row.outOctets, platform_.bootMs()};
    r.speed = platform_.linkSpeed(name);
    return r;
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
    // What was counted until now stays in the history; what the links move
    // while it is off is never counted, also by a copy started later.
    if (was && !keep && saveNow())
        store_->setNote("paused", "1");
    rebase_ = rebase_ || (!was && keep);
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
