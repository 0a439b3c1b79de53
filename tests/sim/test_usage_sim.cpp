#include "support/Fakes.h"
#include "support/Table.h"
#include "usage/UsageRecorder.h"

#include <QtTest>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sqlite3.h>

// The usage history simulated: a model kernel, up to two copies of the real recorder on one real
// store, and a ledger of every byte a link moved while it was recorded, each either saved, still
// unsaved or lost in one of the ways docs/usage-history.md allows. After every save the store
// must hold, name by name, exactly the saved bytes. No event loop runs, so the recorder's queued
// saves never do: a sequence replays exactly from its seed.
//
// An event is one token, so random sequences, the fault scripts and the trace share a language
// (n, m link names, A or B a copy of the program):
//   +n +n@7  n comes up (a new index, or 7)   -n it goes   =n it goes and comes back, new index
//   n>m  renamed   n:R/T  it received R and sent T bytes (k M G: thousands)   !n counters reset
//   A^ A^0 A^z  A starts (with KeepHistory=0 in the file; in another zone)   A. A saves
//   A$ SIGTERM  A# SIGKILL   A~n A~n' A's tick reads n (a while ago)
//   A*n A/n  "Record usage of this interface" ticked, unticked   A0 A1  history off, on
//   boot  sleep (5 h suspended)  clock:S (wall clock moved)  wait:S  busy free (another program
//   holds the store, and lets it go)
namespace {

struct Two {
    quint64 rx = 0, tx = 0;
    Two &operator+=(Two o) { return rx += o.rx, tx += o.tx, *this; }
    bool operator==(const Two &) const = default;
};

QByteArray shown(const QByteArray &bytes) {
    QByteArray out;
    for (const char c : bytes)
        out += c > ' ' && c < 127 ? QByteArray(1, c) : "\\x" + QByteArray::number(uchar(c), 16);
    return out;
}
QByteArray shown(Two t) {
    return QByteArray::number(t.rx) + '/' + QByteArray::number(t.tx);
}

// "30.7M" is 30700000; plain numbers stay exact up to 2^64.
quint64 amount(QByteArray text) {
    const qsizetype unit = QByteArray("kMG").indexOf(text.back()) + 1;
    if (!unit)
        return text.toULongLong();
    text.chop(1);
    return quint64(std::llround(text.toDouble() * std::pow(1000.0, double(unit))));
}

struct Link {
    Link() = default;
    Link(int id, qint32 index, const QByteArray &name) : id(id), index(index), name(name) {}
    int id = 0;
    qint32 index = 0;
    QByteArray name;
    // Its counters; before its last traffic, for a late tick; as the last save that covered it read
    // them; what it moved while recorded and no save holds yet.
    Two now, late, saved, pending;
    bool armed = false; // the store can tell what it moves from now on
    bool reset = false; // counters reset since the last save that covered it
};

// The loopback and veths only repeat traffic: left out unless named.
bool leftOut(const QByteArray &name) {
    return name == "lo" || name.startsWith('v');
}

InterfaceRow row(const Link &l) {
    return {l.index, l.name == "lo" ? 24u : 6u, 0,     l.now.rx, l.now.tx,
            64,      QString::fromUtf8(l.name), l.name};
}

TickSample tick(const Link &l, bool late) {
    const Two t = late ? l.late : l.now;
    return {l.index, l.name, true, false, 0, 0, qint64(t.rx), qint64(t.tx), late ? 3000 : 0};
}

// One copy of the program: its view of the one kernel, with its own watcher, and its recorder.
struct Copy final : InterfaceSource {
    const std::vector<Link> *links = nullptr;
    LinkWatcher onLink;
    bool records = false;
    std::set<int> gone;                   // links it saw go since its last save
    std::pair<qint32, QByteArray> ticked; // the link its last tick read
    std::unique_ptr<UsageRecorder> rec;   // goes first, and clears its watcher
    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override {
        rows.clear();
        for (const Link &l : *links)
            rows.push_back(row(l));
        return TableResult::Ok;
    }
    bool interfaceRow(qint32 index, InterfaceRow &out, Detail) override {
        for (const Link &l : *links)
            if (l.index == index)
                return out = row(l), true;
        out = InterfaceRow();
        out.index = index;
        return false;
    }
    bool addressTable(std::vector<AddressRow> &rows) override { return rows.clear(), true; }
    bool watchLinks(LinkWatcher f) override { return onLink = std::move(f), true; }
};

const QByteArrayList kNames = {"eth0",    "wlan0", "tun0", "tun1", "ppp0",
                               "w\xe9n0", "va",    "vb",   "lo"};

struct Sim final : UsagePlatform {
    explicit Sim(const QString &folder) : folder_(folder) {}
    ~Sim() override {
        for (Copy &c : copies_)
            stop(c);
        sqlite3_close(blocker_);
        QDir(folder_).removeRecursively();
    }
    QByteArray bootId() override { return boot_; }
    qint64 bootMs() override { return ms_; }
    qint64 utcNow() override { return utc_; }
    UsageRules::LinkKind linkKind(const QByteArray &name, quint32) override {
        using enum UsageRules::LinkKind;
        return name == "lo" ? Loopback : leftOut(name) ? Veth : Counted;
    }
    QString dataFolder() override { return folder_; }

    QByteArrayList trace;
    int saves = 0;

    // Runs one event; the answer says what went wrong, empty when nothing did.
    QByteArray run(const QByteArray &e) {
        trace << e;
        ms_ += 5000;
        utc_ += 5;
        const qsizetype colon = e.indexOf(':'), at = e.indexOf('@'), to = e.indexOf('>');
        const qint64 number = e == "sleep" ? 5 * 3600 : e.mid(colon + 1).toLongLong();
        if (e[0] == 'A' || e[0] == 'B')
            return copyEvent(copies_[e[0] - 'A'], e[1], e.mid(2));
        if (e == "boot") {
            boot_ = "boot-" + QByteArray::number(++boots_);
            ms_ = 20000;
            nextIndex_ = 1;
            freed_.clear();
            for (Link &l : links_) {
                l = Link(l.id, nextIndex_++, l.name); // what it moved since the last save is lost
                l.armed = table_;
            }
        } else if (e == "sleep" || e.startsWith("wait:") || e.startsWith("clock:")) {
            ms_ += e[0] == 'c' ? 0 : number * 1000; // the wall clock moves alone
            utc_ += number;
        } else if (e == "busy") {
            sqlite3_open_v2(path(), &blocker_, SQLITE_OPEN_READWRITE, nullptr);
            sqlite3_exec(blocker_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        } else if (e == "free") {
            sqlite3_close(std::exchange(blocker_, nullptr));
        } else if (e[0] == '+') {
            up(e.mid(1, at < 0 ? -1 : at - 1), at < 0 ? 0 : e.mid(at + 1).toInt());
        } else if (e[0] == '-' || e[0] == '=') {
            const Link l = *find(e.mid(1));
            tell(l, true);
            for (Copy &c : copies_)
                if (c.rec && c.records)
                    c.gone.insert(l.id);
            gone_[l.id] = l;
            freed_.push_back(l.index);
            std::erase_if(links_, [&](const Link &x) { return x.id == l.id; });
            prune();
            if (e[0] == '=')
                up(l.name, 0);
        } else if (e[0] == '!') {
            Link &l = *find(e.mid(1));
            l.now = l.late = l.pending = {}; // what it moved since the last save is lost
            l.reset = records(l);
            retick(l);
        } else if (to > 0) {
            find(e.left(to))->name = e.mid(to + 1);
            tell(*find(e.mid(to + 1)), false);
        } else {
            Link &l = *find(e.left(colon));
            const qsizetype slash = e.indexOf('/');
            const Two t{amount(e.mid(colon + 1, slash - colon - 1)), amount(e.mid(slash + 1))};
            l.late = l.now;
            l.now += t;
            if (records(l))
                l.pending += t;
        }
        return {};
    }

    // An event the state allows, drawn at random: each one offered as often as it should come.
    QByteArray draw(std::mt19937_64 &rng) {
        const auto any = [&](const auto &list) { return list[rng() % list.size()]; };
        QByteArrayList can;
        const auto offer = [&](int times, const QByteArray &e) { can += QByteArrayList(times, e); };
        // While a link on a reused index waits for a save to tell it from the gone one, the
        // copies that saw that one go stay, and no other starts.
        const bool calm = !hazard();
        const int running = bool(copies_[0].rec) + bool(copies_[1].rec);
        const QByteArray name = any(kNames);
        const qint32 index = freed_.empty() ? 0 : any(freed_);
        const QByteArray who(1, copies_[1].rec && (running < 2 || rng() % 2) ? 'B' : 'A');
        if (!links_.empty()) {
            const Link l = any(links_);
            offer(5, l.name + ':' + traffic(l, rng));
            offer(!l.reset, (rng() % 2 ? '-' : '=') + l.name);
            offer(1, '!' + l.name);
            offer(calm && !leftOut(l.name) && !leftOut(name) && !find(name), l.name + '>' + name);
            offer(running, who + '~' + l.name + (rng() % 3 ? "" : "'"));
        }
        offer(!find(name),
              '+' + name +
                  (rng() % 3 || !reusable(index) ? QByteArray() : '@' + QByteArray::number(index)));
        // Settings change in the one window, and not while another program holds the store.
        const bool alone = running == 1 && calm && !blocker_;
        const bool records = copies_[who[0] - 'A'].records;
        offer(2 * running, who + '.');
        offer(running && calm, who + (rng() % 3 ? '$' : '#'));
        offer(alone && records && leftOut(name), who + (named_.contains(name) ? '/' : '*') + name);
        offer(alone && rng() % 3 == 0, who + (records ? '0' : '1'));
        const QByteArray how = (running ? !keep_ : rng() % 6 == 0) ? "0" : rng() % 5 ? "" : "z";
        offer(2 * (running < 2 && calm && !blocker_), (copies_[0].rec ? "B^" : "A^") + how);
        offer(!running && !blocker_, "boot");
        offer(1, any(QByteArrayList{"sleep", "clock:-86400", "clock:94608000",
                                    "wait:" + QByteArray::number(1 + rng() % 600)}));
        offer(2 * (blocker_ || QFile::exists(path())), blocker_ ? "free" : "busy");
        return any(can);
    }

    QByteArray report(const QByteArray &why) const {
        QByteArray out = why + "\nevents:";
        for (qsizetype i = 0; i < trace.size(); ++i)
            out += '\n' + QByteArray::number(i + 1) + ' ' + shown(trace[i]);
        return out;
    }

    QByteArray path() const { return (folder_ + QStringLiteral("/usage.sqlite")).toLocal8Bit(); }
    Link *find(const QByteArray &name) {
        for (Link &l : links_)
            if (l.name == name)
                return &l;
        return nullptr;
    }
    bool counted(const Link &l) const {
        return keep_ && (!leftOut(l.name) || named_.contains(l.name));
    }
    bool records(const Link &l) const { return counted(l) && l.armed; }
    void tell(const Link &l, bool gone) {
        for (Copy &c : copies_)
            if (c.onLink)
                c.onLink(row(l), gone);
    }
    // The tick reads the selected link every second: a reset, or a new link on its index and
    // name, is seen before the next event.
    void retick(const Link &l) {
        for (Copy &c : copies_)
            if (c.rec && c.ticked == std::pair(l.index, l.name))
                c.rec->sampled(tick(l, false));
    }
    void up(const QByteArray &name, qint32 index) {
        Link &l = links_.emplace_back(++ids_, index ? index : nextIndex_, name);
        nextIndex_ = std::max(nextIndex_, l.index + 1);
        l.armed = table_; // the store can tell it came up since the last save
        tell(l, false);
        retick(l);
    }
    // A gone link no running copy saw go has lost what it moved since the last save.
    void prune() {
        std::erase_if(gone_, [&](auto &g) {
            return std::none_of(copies_, copies_ + 2,
                                [&](auto &c) { return c.gone.count(g.first); });
        });
    }
    // History off, in the window or the file: what was not saved is lost.
    void off() {
        keep_ = table_ = false;
        for (Link &l : links_) {
            l.pending = {};
            l.armed = l.reset = false;
        }
    }
    // The next save takes a link on an index the last save read in this boot for that link
    // renamed, unless the copy saving saw that one go. A gone link's index comes back only where
    // every copy that records saw it go.
    bool hazard() const {
        return std::any_of(links_.begin(), links_.end(), [&](const Link &l) {
            return table_ && lastBoot_ == boot_ && lastRead_.contains(l.index) &&
                   lastRead_.at(l.index) != l.id;
        });
    }
    bool reusable(qint32 index) const {
        const bool read = table_ && lastBoot_ == boot_ && lastRead_.contains(index);
        bool saw = false;
        for (const Copy &c : copies_)
            if (read && c.rec && c.records && !(saw = c.gone.count(lastRead_.at(index))))
                return false;
        return index && (!read || saw) && std::none_of(links_.begin(), links_.end(), [&](auto &l) {
                   return l.index == index;
               });
    }
    QByteArray traffic(const Link &l, std::mt19937_64 &rng) const {
        const quint64 now[] = {l.now.rx, l.now.tx}, saved[] = {l.saved.rx, l.saved.tx};
        QByteArray out;
        for (const int i : {0, 1}) {
            const quint64 r = rng() % 10, huge = Q_UINT64_C(5000000000);
            quint64 t = r == 0   ? 0
                        : r == 1 ? huge + rng() % (7 * huge)
                        : r < 4  ? rng() % huge
                                 : rng() % 10000000;
            // A reset is told from traffic only while the counters stay below those saved.
            if (l.reset && saved[i])
                t = std::min(t, saved[i] - 1 - now[i]);
            out += QByteArray::number(t) + (i ? "" : "/");
        }
        return out;
    }

    QByteArray copyEvent(Copy &c, char op, const QByteArray &arg) {
        switch (op) {
        case '^': {
            UsageRecorder::Options o;
            o.record = arg != "0";
            o.named = named_;
            o.zone = arg == "z" ? QTimeZone(5 * 3600 + 45 * 60) : QTimeZone::utc();
            o.busyMs = 0; // another program holding the store fails a save at once
            c.links = &links_;
            c.rec = std::make_unique<UsageRecorder>(c, *this, o);
            c.rec->start();
            if (!o.record && keep_)
                off(); // KeepHistory=0 written into the file
            keep_ = c.records = o.record;
            return saved(c, c.rec->error().isEmpty() && c.rec->store());
        }
        case '.':
        case '$':
        case '#': {
            const QByteArray why = op == '#' ? QByteArray() : saved(c, c.rec->saveNow());
            if (op != '.')
                stop(c);
            return why;
        }
        case '~': {
            const Link &l = *find(arg.chopped(arg.endsWith('\'')));
            c.ticked = {l.index, l.name};
            c.rec->sampled(tick(l, arg.endsWith('\'')));
            return {};
        }
        case '*':
        case '/': {
            // The window saves at once, so what the link moved before it was ticked stays out
            // and what it moved until it was unticked is in (unticking saves first, itself).
            if (op == '/')
                cover(c), named_.remove(arg);
            else if (const QByteArray why = saved(c, c.rec->saveNow()); !why.isEmpty())
                return why;
            else
                named_.insert(arg);
            for (Link &l : links_)
                l.armed = l.armed && l.name != arg;
            c.rec->setRecording(true, named_);
            return saved(c, c.rec->saveNow());
        }
        case '0':
        case '1':
            c.rec->setRecording(op == '1', named_);
            if (op == '0')
                cover(c), off(); // what was counted until now is saved, the rest lost
            keep_ = c.records = op == '1';
            return op == '0' ? check() : saved(c, c.rec->error().isEmpty() && c.rec->store());
        }
        return "no such event";
    }
    // A save of c, done when ok: the store must hold what it covers. Only another program
    // holding the store may make it fail.
    QByteArray saved(Copy &c, bool ok) {
        if (ok && c.records) {
            cover(c);
            return check();
        }
        if (!ok && c.records && !blocker_)
            return "a save failed with the store free: " + c.rec->error().toUtf8();
        return {};
    }
    void stop(Copy &c) {
        c.rec.reset();
        c = Copy();
        prune();
    }
    // What a save of copy c covers: every recorded link, and those c saw go.
    void cover(Copy &c) {
        ++saves;
        for (Link &l : links_)
            if (counted(l)) {
                stored_[l.name] += std::exchange(l.pending, {});
                l.saved = l.now;
                l.armed = true;
                l.reset = false;
            }
        for (const int id : c.gone)
            stored_[gone_[id].name] += std::exchange(gone_[id].pending, {});
        c.gone.clear();
        table_ = true;
        lastRead_.clear();
        for (const Link &l : links_)
            lastRead_[l.index] = l.id;
        lastBoot_ = boot_;
        prune();
    }
    QByteArray check() const {
        std::map<QByteArray, std::pair<Two, Two>> both; // the store's, the ledger's
        sqlite3 *db = nullptr;
        sqlite3_stmt *s = nullptr;
        sqlite3_open_v2(path(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_prepare_v2(db, "SELECT interface, received, sent FROM periods", -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW)
            both[QByteArray(static_cast<const char *>(sqlite3_column_blob(s, 0)),
                            sqlite3_column_bytes(s, 0))]
                .first +=
                {quint64(sqlite3_column_int64(s, 1)), quint64(sqlite3_column_int64(s, 2))};
        sqlite3_finalize(s);
        sqlite3_close(db);
        for (const auto &[name, t] : stored_)
            both[name].second = t;
        QByteArray names;
        for (const auto &[name, two] : both)
            if (two.first != two.second)
                names += ' ' + shown(name) + ' ' + shown(two.first) + ' ' + shown(two.second);
        return names.isEmpty() ? names : "the store differs, by name (store, truth):" + names;
    }

    const QString folder_;
    sqlite3 *blocker_ = nullptr; // another program's transaction on the store
    QByteArray boot_ = "boot-0";
    qint64 ms_ = 3600000, utc_ = 1796634000;
    int boots_ = 0, ids_ = 0;
    qint32 nextIndex_ = 2;
    std::vector<Link> links_;
    std::vector<qint32> freed_; // indexes of links gone in this boot
    std::map<int, Link> gone_;  // gone links some running copy saw go
    Copy copies_[2];
    // The history's settings, and what the store knows of the links.
    bool keep_ = true, table_ = false;
    QSet<QByteArray> named_;
    std::map<qint32, int> lastRead_; // index -> link, as the last save read them
    QByteArray lastBoot_;
    // The ledger.
    std::map<QByteArray, Two> stored_;
};

// Plays events; an empty one is drawn at random. No events given: the seed's sequence, a few links
// up, at times with counters past 2^63 (SQLite's integers are signed), then 10 to 40 random events.
QByteArray play(Sim &sim, quint64 seed, QByteArrayList events = {}) {
    std::mt19937_64 rng(seed);
    if (events.isEmpty()) {
        QByteArrayList names = kNames;
        std::shuffle(names.begin(), names.end(), rng);
        for (qsizetype i = qsizetype(rng() % 3); i >= 0; --i)
            events << '+' + names[i];
        if (rng() % 4 == 0)
            events << names[0] + ":9300000000000000000/18000000000000000000";
        events.resize(events.size() + qsizetype(10 + rng() % 31));
    }
    for (const QByteArray &e : events)
        if (const QByteArray why = sim.run(e.isEmpty() ? sim.draw(rng) : e); !why.isEmpty())
            return why;
    return {};
}

} // namespace

class UsageSimTest : public QObject {
    Q_OBJECT
    TestPlatform env;
    const bool shm = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    QTemporaryDir dir{(shm ? QStringLiteral("/dev/shm") : QDir::tempPath()) + "/zarn-sim-XXXXXX"};
private slots:
    // The faults found on real links before the rules were reworked, as scripts.
    void knownFaults_data() {
        const auto r = table<QByteArray>({"events"});
        r("a VPN up and gone between two saves", "+eth0 A^ +tun0 tun0:1G/0 -tun0 A.");
        r("a VPN gone before SIGTERM", "+eth0 A^ +tun0 tun0:50M/0 -tun0 A$");
        r("a new link on a gone link's index",
          "+eth0 +va@7 A^ A*va A*vb va:0/30.7M -va A. +vb@7 vb:0/51.2M A.");
        r("KeepHistory=0 in the file", "+eth0 A^ eth0:1M/1M A$ A^0 eth0:17M/0 A$ A^ A.");
        r("unticked: what was counted stays", "+va A^ A*va va:20M/0 A/va va:20M/0 A$");
        r("unticked: nothing more is counted", "+va A^ A*va va:20M/0 A. A/va va:20M/0 A*va A.");
        r("a named loopback at 17 Gbit/s", "+lo A^ A*lo lo:21250M/21250M A.");
        r("a store busy while a link goes", "+eth0 +tun0 A^ tun0:5M/5M busy A. -tun0 free A.");
        r("a name that is not UTF-8", "+w\xe9n0 A^ w\xe9n0:3M/1M A. w\xe9n0:2M/0 -w\xe9n0 A$");
    }
    void knownFaults() {
        Sim sim(dir.path() + QStringLiteral("/store"));
        if (const QByteArray why = play(sim, 0, cell<QByteArray>("events").split(' '));
            !why.isEmpty())
            QFAIL(sim.report(why).constData());
    }

    // ZARN_SIM_SEQUENCES sequences (10000); or, with its events, the one seed ZARN_SIM_SEED or
    // the events ZARN_SIM_EVENTS (links named must be up).
    void randomSequences() {
        const QByteArray events = qgetenv("ZARN_SIM_EVENTS");
        const QByteArrayList script = events.isEmpty() ? QByteArrayList() : events.split(' ');
        const bool one = qEnvironmentVariableIsSet("ZARN_SIM_SEED") || !events.isEmpty();
        const quint64 first = one ? qEnvironmentVariable("ZARN_SIM_SEED").toULongLong() : 1;
        const int asked = qEnvironmentVariableIntValue("ZARN_SIM_SEQUENCES");
        const int count = one ? 1 : asked > 0 ? asked : 10000;
        const qint64 began = QDateTime::currentMSecsSinceEpoch();
        qint64 run = 0, saves = 0;
        int failed = 0;
        for (int i = 0; i < count; ++i) {
            Sim sim(dir.path() + u'/' + QString::number(i));
            const QByteArray why = play(sim, first + quint64(i), script);
            run += sim.trace.size();
            saves += sim.saves;
            const QByteArray seed = events.isEmpty() ? "seed " + QByteArray::number(first + i)
                                                     : QByteArray("ZARN_SIM_EVENTS");
            if (one || (!why.isEmpty() && !failed))
                std::printf("%s: %s\n", seed.data(),
                            sim.report(why.isEmpty() ? "passes" : why).data());
            else if (!why.isEmpty() && failed < 20)
                std::printf("%s: event %lld, %s: %s\n", seed.data(), qlonglong(sim.trace.size()),
                            shown(sim.trace.back()).data(), why.data());
            failed += !why.isEmpty();
        }
        std::printf("usage sim: %d sequences, %lld events, %lld saves, %.1f s\n", count,
                    qlonglong(run), qlonglong(saves),
                    double(QDateTime::currentMSecsSinceEpoch() - began) / 1000);
        QVERIFY2(!failed, qPrintable(QStringLiteral("%1 sequences failed; ZARN_SIM_SEED=N replays "
                                                    "one with its events")
                                         .arg(failed)));
    }
};

QTEST_GUILESS_MAIN(UsageSimTest)
#include "test_usage_sim.moc"
