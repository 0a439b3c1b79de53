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
    Two &operator+=(Two o) {
        rx += o.rx;
        tx += o.tx;
        return *this;
    }
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
    Two now, late;      // its counters; and before its last traffic, for a late tick
    Two saved;          // its counters as the last save that covered it read them
    Two pending;        // moved while recorded, not saved yet
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

// One copy's view of the one kernel, with its own watcher.
class View final : public InterfaceSource {
public:
    explicit View(const std::vector<Link> &links) : links_(links) {}
    LinkWatcher onLink;
    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override {
        rows.clear();
        for (const Link &l : links_)
            rows.push_back(row(l));
        return TableResult::Ok;
    }
    bool interfaceRow(qint32 index, InterfaceRow &out, Detail) override {
        const auto l = std::find_if(links_.begin(), links_.end(),
                                    [&](const Link &l) { return l.index == index; });
        out = l == links_.end() ? InterfaceRow() : row(*l);
        out.index = index;
        return l != links_.end();
    }
    bool addressTable(std::vector<AddressRow> &rows) override {
        rows.clear();
        return true;
    }
    bool watchLinks(LinkWatcher f) override {
        onLink = std::move(f);
        return true;
    }

private:
    const std::vector<Link> &links_;
};

struct Copy {
    std::unique_ptr<View> view;
    std::unique_ptr<UsageRecorder> rec; // goes before its view, whose watcher it clears
    bool records = false;
    std::set<int> gone;                   // links it saw go since its last save
    std::pair<qint32, QByteArray> ticked; // the link its last tick read
};

// A busy store fails a save at once where the recorder can be told so; elsewhere each busy
// save costs two seconds, and only the scripts make the store busy.
template <class O> constexpr bool kBusyMs = requires(O o) {
    o.busyMs = 0;
};
template <class O> void failAtOnce(O &o) {
    if constexpr (kBusyMs<O>)
        o.busyMs = 0;
}

const QByteArrayList kNames = {"eth0",    "wlan0", "tun0", "tun1", "ppp0",
                               "w\xe9n0", "va",    "vb",   "lo"};

class Sim final : public UsagePlatform {
public:
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
    quint64 linkSpeed(const QByteArray &) override { return 0; }
    QString dataFolder() override { return folder_; }

    QByteArrayList trace;
    int saves = 0;

    QByteArray report(const QByteArray &why) const {
        QByteArray out = why + "\nevents:";
        for (qsizetype i = 0; i < trace.size(); ++i)
            out += '\n' + QByteArray::number(i + 1) + ' ' + shown(trace[i]);
        return out;
    }

    // Runs one event; the answer says what went wrong, empty when nothing did.
    QByteArray run(const QByteArray &e) {
        trace << e;
        ms_ += 5000;
        utc_ += 5;
        const qsizetype colon = e.indexOf(':'), at = e.indexOf('@'), to = e.indexOf('>');
        const qint64 number = e.mid(colon + 1).toLongLong();
        if (e.size() > 1 && (e[0] == 'A' || e[0] == 'B'))
            return copyEvent(copies_[e[0] - 'A'], e[1], e.mid(2));
        if (e == "boot") {
            reboot();
        } else if (e == "sleep") {
            ms_ += 5 * 3600000;
            utc_ += 5 * 3600;
        } else if (e.startsWith("clock:")) {
            utc_ += number;
        } else if (e.startsWith("wait:")) {
            ms_ += number * 1000;
            utc_ += number;
        } else if (e == "busy") {
            sqlite3_open_v2(path(), &blocker_, SQLITE_OPEN_READWRITE, nullptr);
            sqlite3_exec(blocker_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        } else if (e == "free") {
            sqlite3_close(blocker_);
            blocker_ = nullptr;
        } else if (e[0] == '+') {
            up(e.mid(1, at < 0 ? -1 : at - 1), at < 0 ? 0 : e.mid(at + 1).toInt());
        } else if (e[0] == '-' || e[0] == '=') {
            goes(e.mid(1));
            if (e[0] == '=')
                up(e.mid(1), 0);
        } else if (e[0] == '!') {
            Link &l = link(e.mid(1));
            l.now = l.late = {};
            lose(l.pending);
            l.reset = records(l);
            retick(l);
        } else if (to > 0) {
            Link &l = link(e.left(to));
            l.name = e.mid(to + 1);
            tell(l, false);
        } else {
            Link &l = link(e.left(colon));
            const qsizetype slash = e.indexOf('/');
            const Two t{amount(e.mid(colon + 1, slash - colon - 1)), amount(e.mid(slash + 1))};
            l.late = l.now;
            l.now += t;
            if (records(l)) {
                l.pending += t;
                recorded_ += t;
            }
        }
        return {};
    }

    // An event the state allows, drawn at random.
    QByteArray draw(std::mt19937_64 &rng) {
        const auto roll = [&](quint64 n) { return rng() % n; };
        std::vector<Copy *> on;
        for (Copy &c : copies_)
            if (c.rec)
                on.push_back(&c);
        // While a link on a reused index waits for a save that tells it from the gone one, the
        // copies that saw that one go stay, and no other starts.
        const bool calm = !hazard();
        // Settings change in the one window, never while another program holds the store.
        const bool alone = on.size() == 1 && calm && !blocker_;
        for (;;) {
            const Link *l = links_.empty() ? nullptr : &links_[roll(links_.size())];
            const QByteArray name = kNames[roll(kNames.size())];
            Copy *c = on.empty() ? nullptr : on[roll(on.size())];
            const QByteArray who(1, char('A' + (c - copies_)));
            switch (roll(20)) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 4:
                if (l)
                    return l->name + ':' + traffic(*l, rng);
                continue;
            case 5: {
                const qint32 index = freed_.empty() ? 0 : freed_[roll(freed_.size())];
                if (find(name))
                    continue;
                if (roll(3) == 0 && index && !indexUp(index) && reusable(index))
                    return '+' + name + '@' + QByteArray::number(index);
                return '+' + name;
            }
            case 6:
                if (l && !l->reset)
                    return (roll(2) ? '-' : '=') + l->name;
                continue;
            case 7:
                if (l && calm && !leftOut(l->name) && !leftOut(name) && !find(name))
                    return l->name + '>' + name;
                if (l)
                    return '!' + l->name;
                continue;
            case 8:
            case 9:
                if (on.size() < 2 && calm && !blocker_) {
                    const quint64 how = roll(6);
                    return QByteArray(copies_[0].rec ? "B" : "A") + (on.empty()
                                                                         ? (how == 0   ? "^0"
                                                                            : how == 1 ? "^z"
                                                                                       : "^")
                                                                         : (!keep_     ? "^0"
                                                                            : how == 1 ? "^z"
                                                                                       : "^"));
                }
                continue;
            case 10:
            case 11:
                if (c)
                    return who + '.';
                continue;
            case 12:
                if (c && calm)
                    return who + (roll(3) ? '$' : '#');
                continue;
            case 13:
                if (c && l)
                    return who + '~' + l->name + (roll(3) ? "" : "'");
                continue;
            case 14:
                if (alone && c->records && leftOut(name))
                    return who + (named_.contains(name) ? '/' : '*') + name;
                continue;
            case 15:
                if (alone && roll(3) == 0)
                    return who + (c->records ? '0' : '1');
                continue;
            case 16:
                if (on.empty() && !blocker_)
                    return "boot";
                continue;
            case 17: {
                const quint64 r = roll(4);
                return r == 0   ? QByteArray("sleep")
                       : r == 1 ? QByteArray(roll(2) ? "clock:-86400" : "clock:94608000")
                                : "wait:" + QByteArray::number(1 + roll(600));
            }
            default:
                if (kBusyMs<UsageRecorder::Options> && (blocker_ || QFile::exists(path())))
                    return blocker_ ? "free" : "busy";
                continue;
            }
        }
    }

private:
    QByteArray path() const { return (folder_ + QStringLiteral("/usage.sqlite")).toLocal8Bit(); }
    Link *find(const QByteArray &name) {
        const auto l = std::find_if(links_.begin(), links_.end(),
                                    [&](const Link &l) { return l.name == name; });
        return l == links_.end() ? nullptr : &*l;
    }
    Link &link(const QByteArray &name) { return *find(name); }
    bool indexUp(qint32 index) const {
        return std::any_of(links_.begin(), links_.end(), [&](auto &l) { return l.index == index; });
    }
    bool counted(const Link &l) const {
        return keep_ && (!leftOut(l.name) || named_.contains(l.name));
    }
    bool records(const Link &l) const { return counted(l) && l.armed; }
    void lose(Two &pending) {
        lost_ += pending;
        pending = {};
    }
    void tell(const Link &l, bool gone) {
        for (Copy &c : copies_)
            if (c.view && c.view->onLink)
                c.view->onLink(row(l), gone);
    }
    // A tick reads the selected link every second: a reset or a new link under its index and
    // name is seen before the next event.
    void retick(const Link &l) {
        for (Copy &c : copies_)
            if (c.rec && c.ticked == std::pair(l.index, l.name))
                c.rec->sampled(tick(l, false));
    }

    void up(const QByteArray &name, qint32 index) {
        links_.emplace_back(++ids_, index ? index : nextIndex_, name);
        nextIndex_ = std::max(nextIndex_, links_.back().index + 1);
        links_.back().armed = table_; // the store can tell it came up since the last save
        tell(links_.back(), false);
        retick(links_.back());
    }
    void goes(const QByteArray &name) {
        const Link l = link(name);
        tell(l, true);
        for (Copy &c : copies_)
            if (c.rec && c.records)
                c.gone.insert(l.id);
        gone_[l.id] = l;
        freed_.push_back(l.index);
        std::erase_if(links_, [&](const Link &x) { return x.id == l.id; });
        prune();
    }
    // A gone link no running copy saw go has lost what it moved since the last save.
    void prune() {
        for (auto g = gone_.begin(); g != gone_.end();) {
            if (std::any_of(std::begin(copies_), std::end(copies_),
                            [&](const Copy &c) { return c.gone.count(g->first); })) {
                ++g;
                continue;
            }
            lose(g->second.pending);
            g = gone_.erase(g);
        }
    }
    void reboot() {
        boot_ = "boot-" + QByteArray::number(++boots_);
        ms_ = 20000;
        utc_ += 60;
        nextIndex_ = 1;
        freed_.clear();
        for (Link &l : links_) {
            lose(l.pending);
            l = Link(l.id, nextIndex_++, l.name);
            l.armed = table_;
        }
    }
    // History off, in the window or the file: what was not saved is lost.
    void off() {
        keep_ = table_ = false;
        lastRead_.clear();
        for (Link &l : links_) {
            lose(l.pending);
            l.armed = l.reset = false;
        }
    }
    // A link read by the last save in this boot is taken for the one now on its index renamed,
    // unless the copy saving saw it go.
    bool hazard() const {
        return table_ && lastBoot_ == boot_ &&
               std::any_of(links_.begin(), links_.end(), [&](auto &l) {
                   const auto read = lastRead_.find(l.index);
                   return read != lastRead_.end() && read->second != l.id;
               });
    }
    bool reusable(qint32 index) const {
        const auto read = lastRead_.find(index);
        if (!table_ || lastBoot_ != boot_ || read == lastRead_.end())
            return true;
        int saw = 0;
        for (const Copy &c : copies_) {
            if (c.rec && c.records && !c.gone.count(read->second))
                return false;
            saw += c.rec && c.records;
        }
        return saw > 0;
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
            failAtOnce(o);
            c.view = std::make_unique<View>(links_);
            c.rec = std::make_unique<UsageRecorder>(*c.view, *this, o);
            c.rec->start();
            c.records = o.record;
            if (!o.record && keep_)
                off(); // KeepHistory=0 written into the file
            keep_ = keep_ || o.record;
            return o.record ? started(c) : QByteArray();
        }
        case '.':
            return save(c);
        case '$': {
            const QByteArray why = save(c);
            stop(c);
            return why;
        }
        case '#':
            stop(c);
            return {};
        case '~':
            c.ticked = {link(arg.chopped(arg.endsWith('\''))).index,
                        arg.chopped(arg.endsWith('\''))};
            c.rec->sampled(tick(link(c.ticked.second), arg.endsWith('\'')));
            return {};
        case '*':
        case '/': {
            // Ticking comes after a save and before one, as the window saves at once: so what
            // the link moved while not named stays out. Unticking saves first, by itself.
            if (op == '/') {
                cover(c);
                named_.remove(arg);
            } else if (const QByteArray why = save(c); !why.isEmpty()) {
                return why;
            } else {
                named_.insert(arg);
            }
            for (Link &l : links_)
                l.armed = l.armed && l.name != arg;
            c.rec->setRecording(true, named_);
            return save(c);
        }
        case '0':
            c.rec->setRecording(false, named_);
            cover(c);
            off();
            c.records = false;
            return check();
        case '1':
            c.rec->setRecording(true, named_);
            keep_ = c.records = true;
            return started(c);
        }
        return "no such event";
    }
    QByteArray started(Copy &c) {
        if (!c.rec->error().isEmpty() || !c.rec->store())
            return "history did not start: " + c.rec->error().toUtf8();
        cover(c);
        return check();
    }
    QByteArray save(Copy &c) {
        const bool ok = c.rec->saveNow();
        if (ok && c.records) {
            cover(c);
            return check();
        }
        if (!ok && c.records && !blocker_)
            return "a save failed while the store was free: " + c.rec->error().toUtf8();
        return {};
    }
    void stop(Copy &c) {
        c.rec.reset();
        c = Copy();
        prune();
    }
    // What a successful save of copy c covers: every recorded link, and those c saw go.
    void cover(Copy &c) {
        ++saves;
        for (Link &l : links_) {
            if (!counted(l))
                continue;
            stored_[l.name] += l.pending;
            l.pending = {};
            l.saved = l.now;
            l.armed = true;
            l.reset = false;
        }
        for (const int id : c.gone) {
            stored_[gone_[id].name] += gone_[id].pending;
            gone_[id].pending = {};
        }
        c.gone.clear();
        table_ = true;
        lastRead_.clear();
        for (const Link &l : links_)
            lastRead_[l.index] = l.id;
        lastBoot_ = boot_;
        prune();
    }
    QByteArray check() const {
        std::map<QByteArray, Two> held, want;
        sqlite3 *db = nullptr;
        sqlite3_stmt *s = nullptr;
        if (sqlite3_open_v2(path(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "SELECT interface, received, sent FROM periods", -1, &s,
                               nullptr) == SQLITE_OK)
            while (sqlite3_step(s) == SQLITE_ROW)
                held[QByteArray(static_cast<const char *>(sqlite3_column_blob(s, 0)),
                                sqlite3_column_bytes(s, 0))] +=
                    Two{quint64(sqlite3_column_int64(s, 1)), quint64(sqlite3_column_int64(s, 2))};
        sqlite3_finalize(s);
        sqlite3_close(db);
        for (const auto &[name, t] : stored_)
            if (t != Two{})
                want[name] = t;
        std::erase_if(held, [](const auto &n) { return n.second == Two{}; });
        if (held == want)
            return {};
        Two h, w, unsaved;
        std::map<QByteArray, std::pair<Two, Two>> both;
        for (const auto &[name, t] : held)
            h += both[name].first = t;
        for (const auto &[name, t] : want)
            w += both[name].second = t;
        for (const Link &l : links_)
            unsaved += l.pending;
        for (const auto &[id, l] : gone_)
            unsaved += l.pending;
        QByteArray why = "the store holds " + shown(h) + " bytes received/sent, not " + shown(w) +
                         " = recorded " + shown(recorded_) + " - lost " + shown(lost_) +
                         " - unsaved " + shown(unsaved) + "; by name (store, truth):";
        for (const auto &[name, two] : both)
            if (two.first != two.second)
                why += ' ' + shown(name) + ' ' + shown(two.first) + ' ' + shown(two.second);
        return why;
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
    // The history's settings and the store's view of the links.
    bool keep_ = true, table_ = false;
    QSet<QByteArray> named_;
    std::map<qint32, int> lastRead_; // index -> link, as the last save read them
    QByteArray lastBoot_;
    // The ledger.
    std::map<QByteArray, Two> stored_;
    Two recorded_, lost_;
};

// The seed's sequence: a few links up, at times with counters past 2^63 (SQLite's integers are
// signed), then 10 to 40 random events.
QByteArray runSeed(Sim &sim, quint64 seed) {
    std::mt19937_64 rng(seed);
    QByteArrayList names = kNames;
    std::shuffle(names.begin(), names.end(), rng);
    QByteArrayList events;
    for (qsizetype i = qsizetype(rng() % 3); i >= 0; --i)
        events << '+' + names[i];
    if (rng() % 4 == 0)
        events << names[0] + ":9300000000000000000/18000000000000000000";
    for (int n = int(10 + rng() % 31); n > 0; --n)
        events << QByteArray();
    for (const QByteArray &e : events)
        if (const QByteArray why = sim.run(e.isEmpty() ? sim.draw(rng) : e); !why.isEmpty())
            return why;
    return {};
}

QString scratch() {
    const bool shm = QFileInfo(QStringLiteral("/dev/shm")).isWritable();
    return (shm ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
           QStringLiteral("/zarn-sim-XXXXXX");
}

} // namespace

class UsageSimTest : public QObject {
    Q_OBJECT
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
        TestPlatform env;
        QTemporaryDir dir(scratch());
        Sim sim(dir.path() + QStringLiteral("/store"));
        for (const QByteArray &e : cell<QByteArray>("events").split(' '))
            if (const QByteArray why = sim.run(e); !why.isEmpty())
                QFAIL(sim.report(why).constData());
    }

    // ZARN_SIM_SEQUENCES sequences (10000), or the one seed ZARN_SIM_SEED with its trace.
    void randomSequences() {
        TestPlatform env;
        QTemporaryDir dir(scratch());
        const bool one = qEnvironmentVariableIsSet("ZARN_SIM_SEED");
        const quint64 first = one ? qEnvironmentVariable("ZARN_SIM_SEED").toULongLong() : 1;
        const int count = one ? 1 : qEnvironmentVariableIntValue("ZARN_SIM_SEQUENCES");
        QElapsedTimer clock;
        clock.start();
        qint64 events = 0, saves = 0;
        int failed = 0;
        for (int i = 0; i < (count > 0 ? count : 10000); ++i) {
            Sim sim(dir.path() + u'/' + QString::number(i));
            const QByteArray why = runSeed(sim, first + quint64(i));
            events += sim.trace.size();
            saves += sim.saves;
            const QByteArray seed = "seed " + QByteArray::number(first + quint64(i)) + ": ";
            if (one || (!why.isEmpty() && !failed))
                std::printf("%s\n",
                            (seed + sim.report(why.isEmpty() ? "passes" : why)).constData());
            else if (!why.isEmpty() && failed < 20)
                std::printf("%sevent %lld, %s: %s\n", seed.constData(), qlonglong(sim.trace.size()),
                            shown(sim.trace.back()).constData(), why.constData());
            failed += !why.isEmpty();
        }
        std::printf("usage sim: %d sequences, %lld events, %lld saves, %.1f s\n",
                    count > 0 ? count : 10000, qlonglong(events), qlonglong(saves),
                    double(clock.elapsed()) / 1000);
        QVERIFY2(!failed, qPrintable(QStringLiteral("%1 sequences failed; ZARN_SIM_SEED=N replays "
                                                    "one with its events")
                                         .arg(failed)));
    }
};

QTEST_GUILESS_MAIN(UsageSimTest)
#include "test_usage_sim.moc"
