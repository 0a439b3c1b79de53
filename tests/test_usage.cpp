#include "support/Harness.h"
#include "usage/UsageRecorder.h"
#include "usage/UsageReport.h"
#include "usage/UsageRules.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/UsageCharts.h"
#include "usagewindow/UsageFeature.h"

#include <QAction>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <map>
#include <sqlite3.h>

// The usage history (counting rules, local periods, the store with two
// copies, restarts, lost links, unusable stores), the Usage window and the cap.
using namespace UsageRules;

namespace {

qint64 utc(const char *iso) {
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODate).toSecsSinceEpoch();
}

// eth0, its recorders and their store in a temporary folder.
struct StoreRig {
    QTemporaryDir dir;
    FakeInterfaceSource interfaces;
    FakeUsagePlatform platform;
    StoreRig() {
        platform.folder = dir.path() + QStringLiteral("/data");
        interfaces.add(2, QStringLiteral("eth0"));
    }
    InterfaceRow &eth0() { return *interfaces.find(2); }
    std::unique_ptr<UsageRecorder> recorder() {
        UsageRecorder::Options o;
        o.zone = QTimeZone::utc();
        auto r = std::make_unique<UsageRecorder>(interfaces, platform, o);
        r->start();
        return r;
    }
    quint64 today(const UsageHistory &h, const QByteArray &name = "eth0") {
        const QDate d = QDateTime::fromSecsSinceEpoch(platform.utc, QTimeZone::utc()).date();
        const auto days = h.days(name, d, d);
        return days.empty() ? 0 : days[0].received;
    }
    void grow(quint64 bytes) {
        eth0().inOctets += bytes;
        eth0().outOctets += bytes / 2;
    }
};

// One interface's bytes per day, in memory.
class FakeUsageHistory final : public UsageHistory {
public:
    bool on = true;
    QByteArray name = "eth0";
    std::map<QDate, std::pair<quint64, quint64>> perDay; // received, sent
    void add(QDate day, quint64 received, quint64 sent = 0) {
        perDay[day].first += received;
        perDay[day].second += sent;
    }
    bool available() const override { return on; }
    std::vector<UsageTotal> days(const QByteArray &n, QDate first, QDate last) const override {
        std::vector<UsageTotal> out;
        for (QDate d = first; d <= last; d = d.addDays(1))
            out.push_back(total(n, d, d));
        return out;
    }
    std::vector<UsageTotal> months(const QByteArray &n, QDate first, QDate last) const override {
        std::vector<UsageTotal> out;
        for (QDate m(first.year(), first.month(), 1); m <= last; m = m.addMonths(1))
            out.push_back(total(n, m, m.addMonths(1).addDays(-1)));
        return out;
    }

private:
    UsageTotal total(const QByteArray &n, QDate first, QDate last) const {
        UsageTotal t{first};
        for (auto it = perDay.lower_bound(first);
             n == name && it != perDay.end() && it->first <= last; ++it) {
            t.received += it->second.first;
            t.sent += it->second.second;
        }
        return t;
    }
};

TickSample sampleOf(const QByteArray &name, double down = 0, double up = 0) {
    TickSample s;
    s.index = 2;
    s.name = name;
    s.measured = s.hasRates = true;
    s.downRate = down;
    s.upRate = up;
    return s;
}

} // namespace

class UsageTest : public QObject {
    Q_OBJECT
private slots:
    // Saved: 1000 received on index 2 of boot-1 at 100 s since boot; "kind bytes".
    void count_data() {
        const auto r = table<QByteArray, qint32, quint64, quint64, qint64, bool, QString>(
            {"boot", "index", "rx", "speed", "ms", "lagging", "count"});
        r("growth on the same link", "boot-1", 2, 5000, 0, 160000, false, "1 4000");
        r("a lower counter is a reset, not a wrap", "boot-1", 2, 300, 0, 160000, false, "2 300");
        r("another link under the name counts from zero", "boot-1", 7, 5000, 0, 160000, false,
          "2 5000");
        r("after a reboot everything since boot", "boot-2", 2, 5000, 0, 160000, false, "3 5000");
        r("a tick older than the save is stale", "boot-1", 2, 900, 0, 160000, true, "4 0");
        r("a tick newer than the save counts", "boot-1", 2, 1500, 0, 160000, true, "1 500");
        // 100 Mbit/s for 60 s and a second of slack: 762,500,000 bytes.
        r("at the link's speed", "boot-1", 2, 762501000, 100000000, 160000, false, "1 762500000");
        r("beyond the link's speed", "boot-1", 2, 762501001, 100000000, 160000, false, "5 0");
        r("unknown speed: 10 Gbit/s", "boot-1", 2, 76250001001, 0, 160000, false, "5 0");
        r("more since boot than the link carries", "boot-2", 2, 10000000000000, 0, 5000, false,
          "5 0");
    }
    void count() {
        const Count c = UsageRules::count(Counter{"boot-1", 2, 1000, 10, 100000},
                                          {{cell<QByteArray>("boot"), cell<qint32>("index"),
                                            cell<quint64>("rx"), 10, cell<qint64>("ms")},
                                           cell<quint64>("speed"),
                                           cell<bool>("lagging")});
        QTEST(QStringLiteral("%1 %2").arg(int(c.kind)).arg(c.adds() ? c.received : 0), "count");
        QCOMPARE(int(UsageRules::count(std::nullopt, {{"boot-1", 2, 5000, 10, 1}, 0, false}).kind),
                 int(CountKind::First));
    }

    // Hourly periods of one byte, then local days and months in Berlin.
    void localPeriods_data() {
        const auto r = table<bool, QDate, QDate, QString>({"byMonth", "first", "last", "totals"});
        r("spring forward: 23 hours", false, QDate(2026, 3, 28), QDate(2026, 3, 30), "24 23 24");
        r("fall back: 25 hours", false, QDate(2026, 10, 24), QDate(2026, 10, 26), "24 25 24");
        r("months end at local midnight", true, QDate(2026, 3, 1), QDate(2026, 4, 30), "166 50");
        r("whole UTC days keep their date", false, QDate(2025, 6, 9), QDate(2025, 6, 11),
          "0 1000 0");
    }
    void localPeriods() {
        std::vector<Period> rows;
        for (const auto &[from, to] : {std::pair{"2026-03-25T00:00:00Z", "2026-04-03T00:00:00Z"},
                                       std::pair{"2026-10-22T00:00:00Z", "2026-10-29T00:00:00Z"}})
            for (qint64 t = utc(from); t < utc(to); t += kHour)
                rows.push_back({t, kHour, 1, 0});
        rows.push_back({utc("2025-06-10T00:00:00Z"), kDay, 1000, 0});
        const QTimeZone berlin("Europe/Berlin");
        const QDate first = cell<QDate>("first"), last = cell<QDate>("last");
        QStringList totals;
        for (const auto &t : cell<bool>("byMonth") ? months(rows, first, last, berlin)
                                                   : days(rows, first, last, berlin))
            totals << QString::number(t.received);
        QTEST(totals.join(u' '), "totals");
    }

    // Two copies saving in turns, each with its own last counters, count each byte once.
    void twoCopiesCountOnce() {
        StoreRig rig;
        rig.eth0().inOctets = 1000000;
        auto a = rig.recorder();
        auto b = rig.recorder();
        for (int i = 0; i < 20; ++i) {
            rig.grow(1000 + i);
            rig.platform.advance(7);
            QVERIFY((i % 3 ? a : b)->saveNow());
        }
        QCOMPARE(rig.today(*a), quint64(20 * 1000 + 190));
        QCOMPARE(rig.today(*b), quint64(20 * 1000 + 190));
    }

    // What passed while no copy ran counts at the next start, from zero after a reboot.
    void restarts_data() {
        const auto r = table<bool, quint64, quint64>({"reboot", "whileDown", "expected"});
        r("killed and started again", false, 300, 800);
        r("rebooted: the unsaved tick is lost", true, 200, 200);
    }
    void restarts() {
        StoreRig rig;
        rig.eth0().inOctets = 123456;
        {
            auto first = rig.recorder(); // saves the first sighting at once
            rig.grow(500);
            first->sampled({2, "eth0", true, false, 0, 0, 123956, 0});
            QCOMPARE(rig.today(*first), quint64(500)); // the tick, not saved yet
        }                                              // killed: no last save
        if (cell<bool>("reboot")) {
            rig.platform.boot = "boot-2";
            rig.platform.sinceBootMs = 60000;
            rig.eth0().inOctets = 0;
        }
        rig.grow(cell<quint64>("whileDown"));
        rig.platform.advance(60);
        auto second = rig.recorder();
        QVERIFY(second->saveNow());
        QTEST(rig.today(*second), "expected");
    }

    // A lost link's last tick is saved, one back under its name or new while
    // running counts from zero; one found at start-up only sets the base.
    void linksComeAndGo() {
        StoreRig rig;
        rig.interfaces.add(5, QStringLiteral("eth1")).inOctets = 5000;
        auto rec = rig.recorder();
        rig.grow(4000);
        rec->sampled({2, "eth0", true, false, 0, 0, 4000, 2000});
        rig.interfaces.rows.erase(rig.interfaces.rows.begin());
        rec->sampled({2, QByteArray(), false, false, 0, 0, 0, 0});
        rig.interfaces.add(9, QStringLiteral("eth0")).inOctets = 100; // back at once
        rig.interfaces.add(7, QStringLiteral("tun0")).inOctets = 700;
        QCoreApplication::processEvents(); // the save the lost link asked for
        rig.platform.advance(10);
        QVERIFY(rec->saveNow());
        QVERIFY(rec->saveNow());
        QCOMPARE(rig.today(*rec), quint64(4100));
        QCOMPARE(rig.today(*rec, "tun0"), quint64(700));
        QCOMPARE(rig.today(*rec, "eth1"), quint64(0));
    }

    // A clock set back or far forward loses no byte and counts none twice.
    void clockJumps() {
        StoreRig rig;
        auto rec = rig.recorder();
        for (const qint64 jump : {600, -86400, 600, 3 * 365 * 86400, 600, -400 * 86400, 600}) {
            rig.grow(1000);
            rig.platform.utc += jump;
            rig.platform.sinceBootMs += 600000;
            QVERIFY(rec->saveNow());
        }
        quint64 sum = 0;
        for (const auto &m : rec->months("eth0", QDate(2026, 1, 1), QDate(2030, 12, 1)))
            sum += m.received;
        QCOMPARE(sum, quint64(7000));
    }

    // An unusable store turns history off with the reason and stays as it was.
    void unusableStores_data() {
        const auto r = table<QString, QString>({"setup", "reason"});
        r("garbage", "garbage", "damaged");
        r("from a newer version", "CREATE TABLE periods(x); PRAGMA user_version=2",
          "newer version");
        r("another program's database", "CREATE TABLE photos(x)", "not a usage history");
        r("locked by another program", "locked", "locked");
    }
    void unusableStores() {
        const QString setup = cell<QString>("setup");
        StoreRig rig;
        const QString path = UsageRecorder::storePath(rig.platform);
        if (setup == u"locked")
            QVERIFY(rig.recorder()->saveNow()); // a good store
        QDir().mkpath(rig.platform.folder);
        sqlite3 *db = nullptr;
        if (setup == u"garbage") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(8192, 'x')));
        } else {
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
            const QByteArray sql = setup == u"locked" ? "BEGIN EXCLUSIVE" : setup.toUtf8();
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        }
        if (setup != u"locked") {
            sqlite3_close(db);
            db = nullptr;
        }
        const QByteArray before = fileBytes(path);
        auto rec = rig.recorder();
        QVERIFY(!rec->available());
        QVERIFY2(rec->error().contains(cell<QString>("reason")), qPrintable(rec->error()));
        rec->sampled({2, "eth0", true, false, 0, 0, 100, 100});
        QVERIFY(!rec->saveNow());
        QVERIFY(rec->days("eth0", QDate(2026, 12, 1), QDate(2026, 12, 7)).empty());
        QCOMPARE(fileBytes(path), before);
        sqlite3_close(db);
    }

    // The JSON scripts rely on: key order, whole numbers beyond 2^53.
    void reportJson() {
        UsageReport::Report r;
        r.interfaceName = "wl\"an0";
        r.days = {{QDate(2026, 12, 7), Q_UINT64_C(9007199254740993), 45}};
        r.months = {{QDate(2026, 12, 1), 123, 0}};
        QCOMPARE(UsageReport::json(r),
                 QByteArray("{\"interface\": \"wl\\\"an0\", \"days\": [{\"date\": \"2026-12-07\", "
                            "\"received\": 9007199254740993, \"sent\": 45}], \"months\": "
                            "[{\"month\": \"2026-12\", \"received\": 123, \"sent\": 0}]}\n"));
    }

    // Graph scales: the 1-2-5 step above the highest rate still on the
    // two-minute graph. Trail points "seconds:down:up", "-" read nothing.
    void scaleRules_data() {
        const auto r = table<QString, double, double>({"trail", "down", "up"});
        r("idle link: the 1 k/sec floor", "0:0:0", 1000, 1000);
        r("steps of 2 and 5", "0:1001:4999", 2000, 5000);
        r("next decade", "0:10001:2000001", 20000, 5000000);
        r("holds while the peak is on the graph", "0:48000:0 1:100:0 120:100:0", 50000, 1000);
        r("falls once the peak has left", "0:48000:0 1:3000:0 121:100:0", 5000, 1000);
        r("a gap keeps the peak", "0:48000:0 1:-:- 2:100:0", 50000, 1000);
        r("a new interface starts afresh", "0:48000:48000 1:new 2:100:0", 1000, 1000);
    }
    void scaleRules() {
        TestPlatform env;
        qint64 now = 0;
        UsageFeature feature(nullptr, nullptr, {[&now] { return now; }, [] { return QDate(); }});
        QByteArray name = "eth0";
        for (const QString &point : cell<QString>("trail").split(u' ')) {
            const QStringList parts = point.split(u':');
            now = parts[0].toLongLong() * 1000;
            name = parts[1] == u"new" ? "wlan0" : name;
            TickSample s = sampleOf(name, parts[1].toDouble(), parts.value(2).toDouble());
            s.hasRates = parts[1] != u"-" && parts[1] != u"new";
            feature.sampled(s);
        }
        QTEST(feature.trail().downScale(), "down");
        QTEST(feature.trail().upScale(), "up");
        QCOMPARE(GraphScale::axisText(2500, QLocale(QLocale::German)),
                 QStringLiteral("2,50 k/sec"));
        QCOMPARE(GraphScale::axisText(2e6, QLocale(QLocale::German)),
                 QStringLiteral("2.000 k/sec"));
    }

    // A reset day past the end of a month means its last day.
    void periods_data() {
        const auto r =
            table<bool, int, QDate, QDate, QDate>({"monthly", "reset", "today", "first", "last"});
        r("daily", false, 31, QDate(2026, 12, 7), QDate(2026, 12, 7), QDate(2026, 12, 7));
        r("31st before February's end", true, 31, QDate(2026, 2, 15), QDate(2026, 1, 31),
          QDate(2026, 2, 27));
        r("31st on February's last day", true, 31, QDate(2026, 2, 28), QDate(2026, 2, 28),
          QDate(2026, 3, 30));
        r("30th in a leap February", true, 30, QDate(2028, 2, 29), QDate(2028, 2, 29),
          QDate(2028, 3, 29));
        r("reset day today", true, 7, QDate(2026, 12, 7), QDate(2026, 12, 7), QDate(2027, 1, 6));
        r("day before the reset", true, 8, QDate(2026, 12, 7), QDate(2026, 11, 8),
          QDate(2026, 12, 7));
        r("across the new year", true, 15, QDate(2027, 1, 3), QDate(2026, 12, 15),
          QDate(2027, 1, 14));
    }
    void periods() {
        const auto span = CapRules::periodOf(cell<bool>("monthly") ? CapRules::Period::Monthly
                                                                   : CapRules::Period::Daily,
                                             cell<int>("reset"), cell<QDate>("today"));
        QTEST(span.first, "first");
        QTEST(span.last, "last");
    }

    // Each warning once per period, also across a restart; a new period warns again.
    void warningsOncePerPeriod() {
        TestPlatform env;
        for (const auto &[key, value] :
             {std::pair{"DataCapEnabled", "1"}, {"DataCapAmount", "1"}, {"DataCapResetDay", "31"}})
            store(QLatin1String(key), QLatin1String(value));
        FakeUsageHistory history;
        QDate today(2026, 2, 10);
        const auto clock = [&today] { return today; };
        auto watcher = std::make_unique<CapWatcher>(&history, &env.tray, clock);
        const auto tick = [&] { watcher->sampled(sampleOf("eth0")); };
        QStringList &given = env.tray.messages;
        history.add(QDate(2026, 1, 30), 900'000'000); // before the period
        history.add(QDate(2026, 1, 31), 400'000'000, 399'999'999);
        tick();
        QCOMPARE(given.size(), 0);
        history.add(today, 0, 1); // 800,000,000 bytes: 80 % of 1 GB exactly
        tick();
        tick();
        QCOMPARE(given.size(), 1);
        QVERIFY2(given[0].startsWith(u"80 % of the data cap used: 0.80 GB of 1.00 GB (80 %) "
                                     u"received and sent from "),
                 qPrintable(given[0]));
        watcher = std::make_unique<CapWatcher>(&history, &env.tray, clock); // a restart
        tick(); // still 80 %: given before the restart
        QCOMPARE(given.size(), 1);
        history.add(today, 250'000'000); // 80 % and then 105 %: only 100 % is new
        tick();
        QCOMPARE(given.size(), 2);
        QVERIFY(given[1].startsWith(u"100 % of the data cap used: 1.05 GB"));
        today = QDate(2026, 2, 28); // the 31st falls on February's last day
        history.add(today, 850'000'000);
        watcher = std::make_unique<CapWatcher>(&history, &env.tray, clock);
        tick();
        QCOMPARE(given.size(), 3);
        QVERIFY(given[2].startsWith(u"80 % of the data cap used: 0.85 GB"));
        // Only the counted direction, in the chosen unit; stored at once.
        CapSettings s = watcher->settings();
        s.direction = CapRules::Direction::Sent;
        s.unit = CapRules::Unit::GiB;
        watcher->setSettings(s);
        tick();
        QCOMPARE(watcher->status().used + watcher->status().cap, quint64(1024 * 1024 * 1024));
        QCOMPARE(stored("DataCapCounts"), QStringLiteral("sent"));
        history.on = false;
        tick();
        QCOMPARE(watcher->statusText(),
                 QStringLiteral("The data cap needs the usage history, which is off."));
    }

    // Values that do not read give the defaults.
    void brokenCapSettings() {
        TestPlatform env;
        for (const auto &[key, value] : {std::pair{"DataCapEnabled", "yes"},
                                         {"DataCapResetDay", "32"},
                                         {"DataCapAmount", "-1"},
                                         {"DataCapUnit", "TB"},
                                         {"DataCapCounts", "x"},
                                         {"DataCapWarnings", "0 80"},
                                         {"DataCapPeriod", "weekly"},
                                         {"DataCapWarningsGiven", "soon 80"}})
            store(QLatin1String(key), QLatin1String(value));
        QVERIFY(UsageSettings::readCap() == CapSettings());
        QVERIFY(!UsageSettings::readGiven().period.isValid());
    }

    // One window, where it was left last time, with the Monitor tab's figures.
    void windowFromTheMenu() {
        Rig r;
        FakeUsageHistory history;
        history.name = "<b>eth0</b>";
        history.add(QDate::currentDate(), 1234567, 89);
        UsageFeature feature(&history, &r.env.tray);
        feature.attach(&r.w);
        InterfaceRow &nic = r.env.interfaces.add(2, QStringLiteral("Fast Ethernet Adapter"));
        nic.name = history.name;
        r.w.tmrAdapterUpdate->setInterval(1000);
        r.w.trackedAdapter = QStringLiteral("2");
        r.w.selectedAdapter = 2;
        r.w.tmrAdapterUpdate_Timer();
        r.w.mUsage->trigger();
        UsageWindow *window = feature.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->lblInterface->textFormat(), Qt::PlainText);
        QCOMPARE(window->lblInterface->text(), QStringLiteral("Interface: <b>eth0</b>"));
        r.env.interfaces.find(2)->inOctets += 12346;
        r.env.interfaces.find(2)->outOctets += 333;
        r.w.tmrAdapterUpdate_Timer();
        QCOMPARE(window->lblDown->text(), "Download: " + r.text("lblDownBytes") + " byte/sec");
        QCOMPARE(window->lblUp->text(), QStringLiteral("Upload: 333 byte/sec"));
        QCOMPARE(window->lblToday->text(),
                 QStringLiteral("Today: 1,234,567 bytes received, 89 bytes sent"));
        QCOMPARE(window->tableDays->rowCount(), QDate::currentDate().daysInMonth());
        QCOMPARE(window->tableMonths->rowCount(), 12);
        window->close();
        feature.sampled(sampleOf(history.name, 3e6)); // while hidden
        r.w.mUsage->trigger();
        QCOMPARE(feature.window(), window);
        QCOMPARE(window->graphDown->scale(), 5e6);
        // Another start: where it was, unless off screen; history off says so.
        window->move(160, 70);
        history.on = false;
        UsageFeature again(&history, &r.env.tray);
        window->close();
        again.showWindow();
        QCOMPARE(again.window()->pos(), QPoint(160, 70));
        for (int tab : {1, 2}) // days, months
            QCOMPARE(
                qobject_cast<QStackedWidget *>(again.window()->tabs->widget(tab))->currentIndex(),
                1);
        store("UsageWindowLeft", "-5000");
        UsageFeature third(&history, &r.env.tray);
        third.showWindow();
        QVERIFY(third.window()->pos().x() > -5000);
    }
};

QTEST_MAIN(UsageTest)
#include "test_usage.moc"
