#include "app/CommandLine.h"
#include "monitor/RateText.h"
#include "platform/Notifier.h"
#include "support/Harness.h"
#include "ui/Contrast.h"
#include "usage/CapForecast.h"
#include "usage/Forecast.h"
#include "usage/UsageRecorder.h"
#include "usage/UsageReport.h"
#include "usage/UsageUnits.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/UsageCharts.h"
#include "usagewindow/UsageFeature.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <sqlite3.h>

// The usage history (counting rules, local periods, the store), the Usage window and the cap.
using namespace UsageRules;

namespace {

// eth0, its recorders and their store in a temporary folder.
struct StoreRig {
    QTemporaryDir dir;
    FakeInterfaceSource interfaces;
    FakeUsagePlatform platform;
    StoreRig() {
        platform.folder = dir.path() + QStringLiteral("/data");
        interfaces.add(2, QStringLiteral("eth0"));
    }
    std::unique_ptr<UsageRecorder> recorder(const QTimeZone &zone = QTimeZone::utc()) {
        UsageRecorder::Options o;
        o.zone = zone;
        auto r = std::make_unique<UsageRecorder>(interfaces, platform, o);
        r->start();
        return r;
    }
};

// One interface's whole UTC days, in memory.
struct FakeUsageHistory final : UsageHistory {
    bool on = true;
    QByteArray name = "eth0";
    std::vector<Period> rows;
    const QTimeZone zone = QTimeZone::utc();
    void add(QDate day, quint64 received, quint64 sent = 0) {
        rows.push_back({day.startOfDay(zone).toSecsSinceEpoch(), kDay, received, sent});
    }
    bool available() const override { return on; }
    QDate firstDay() const { return rows.empty() ? QDate() : dayOf(rows.front(), zone); }
    std::vector<UsageTotal> days(const QByteArray &n, QDate first, QDate last) const override {
        return UsageRules::days(n == name ? rows : std::vector<Period>(), first, last, zone,
                                firstDay());
    }
    std::vector<UsageTotal> months(const QByteArray &n, QDate first, QDate last) const override {
        return UsageRules::months(n == name ? rows : std::vector<Period>(), first, last, zone,
                                  firstDay());
    }
};

} // namespace

class UsageTest : public QObject {
    Q_OBJECT
private slots:
    // Saved: 1000 received on index 2 of boot-1 at 100 s since boot, read at 160 s as the
    // system's counters, a tick's or a link's last ones; "kind bytes". No boot named: both
    // saved and read with none, read at 50 s.
    void count_data() {
        const auto r = table<QByteArray, qint32, quint64, QByteArray, QString>(
            {"boot", "index", "rx", "how", "count"});
        r("after a reboot everything since boot", "boot-2", 2, 5000, "", "3 5000");
        r("a tick older than the save is stale", "boot-1", 2, 900, "tick", "4 0");
        r("a tick newer than the save counts", "boot-1", 2, 1500, "tick", "1 500");
        r("a gone veth's received side reads 0", "boot-1", 2, 0, "last", "1 0");
        r("no boot named: time since boot went back", "", 2, 5000, "", "3 5000");
        r("no boot named: a tick may be older than the save", "", 2, 5000, "tick", "1 4000");
    }
    void count() {
        const QByteArray how = cell<QByteArray>("how");
        const QByteArray boot = cell<QByteArray>("boot");
        const Ledger::Count c = Ledger::count(
            Ledger::Counter{boot.isEmpty() ? "" : "boot-1", 2, 1000, 10, 100000},
            {boot, cell<qint32>("index"), cell<quint64>("rx"), 10, boot.isEmpty() ? 50000 : 160000},
            how == "tick", how == "last");
        QTEST(QStringLiteral("%1 %2").arg(int(c.kind)).arg(c.received), "count");
    }

    // The estimate for the whole period and the day the cap runs out, in Berlin; GB; a week of
    // -1: the history does not reach back so far. "estimate|runs out" ("-": none).
    void forecast_data() {
        const auto r = table<QString, QString, double, double, double, QString>(
            {"period", "now", "used", "cap", "week", "expected"});
        r("the period's first hours: too early", "2026-12-01 2026-12-31", "2026-12-01T02:00", 1,
          100, -1, "-|3");
        r("the first hours, a week to go by", "2026-12-01 2026-12-31", "2026-12-01T02:00", 1, 100,
          70, "-|1 2026-12-10");
        r("a quiet week: the month's own pace", "2026-12-01 2026-12-31", "2026-12-11T00:00", 10,
          100, 0, "31|2");
        r("a busy week comes sooner", "2026-12-01 2026-12-31", "2026-12-11T00:00", 10, 100, 35,
          "31|1 2026-12-29");
        r("nothing moves", "2026-12-01 2026-12-31", "2026-12-11T00:00", 0, 100, 0, "0|2");
        r("the cap already passed", "2026-12-01 2026-12-31", "2026-12-11T00:00", 120, 100, 0,
          "372|0");
        r("23 hours when the clocks go forward", "2026-03-29 2026-03-29", "2026-03-29T12:30", 1, 0,
          -1, "2|3");
        r("25 hours when they go back", "2027-10-31 2027-10-31", "2027-10-31T11:30", 1, 0, -1,
          "2|3");
        r("the 31st as reset day: to Feb 27", "2027-01-31 2027-02-27", "2027-02-14T00:00", 14, 25,
          -1, "28|1 2027-02-25");
    }
    void forecast() {
        const QTimeZone berlin("Europe/Berlin");
        const QStringList days = cell<QString>("period").split(u' ');
        const auto span = Forecast::localDays(QDate::fromString(days[0], Qt::ISODate),
                                              QDate::fromString(days[1], Qt::ISODate), berlin);
        const qint64 now =
            QDateTime(QDateTime::fromString(cell<QString>("now"), Qt::ISODate).date(),
                      QDateTime::fromString(cell<QString>("now"), Qt::ISODate).time(), berlin)
                .toSecsSinceEpoch();
        const auto gb = [](double v) { return quint64(v * 1e9); };
        const auto estimate = Forecast::estimate(gb(cell<double>("used")), span, now);
        const double week = cell<double>("week");
        const auto out =
            Forecast::runsOut(gb(cell<double>("used")), gb(cell<double>("cap")), span, now,
                              week < 0 ? std::nullopt : std::optional(gb(week)), berlin);
        QTEST((estimate ? QString::number(qRound64(*estimate / 1e9)) : QStringLiteral("-")) + u'|' +
                  QString::number(out.kind) +
                  (out.day.isValid() ? u' ' + out.day.toString(Qt::ISODate) : QString()),
              "expected");
    }

    // The cap from a history of 1 GB received and 0.5 GB sent a day from the first day on, in
    // UTC, warnings at 80 and 100 %: "GB used|runs out (Forecast::RunsOut kind, day)|level".
    void capForecast_data() {
        const auto r = table<QDate, bool, double, bool, QString, QString>(
            {"first", "daily", "cap", "sentOnly", "now", "state"});
        r("the month's own pace beats the week's", QDate(2026, 11, 20), false, 40, false,
          "2026-12-10T12:00", "15|1 2026-12-26|0");
        r("sent only", QDate(2026, 11, 20), false, 12, true, "2026-12-10T12:00",
          "5|1 2026-12-23|0");
        r("a day's first hour goes by the week", QDate(2026, 11, 20), true, 2, false,
          "2026-12-10T01:00", "1.5|1 2026-12-10|0");
        r("no whole week before the first record", QDate(2026, 12, 5), true, 2, false,
          "2026-12-10T01:00", "1.5|3|0");
        r("past the first warning", QDate(2026, 11, 20), true, 1.8, false, "2026-12-10T01:00",
          "1.5|1 2026-12-10|1");
        r("used up", QDate(2026, 11, 20), false, 15, false, "2026-12-10T12:00", "15|0|2");
    }
    void capForecast() {
        FakeUsageHistory history;
        for (QDate d = cell<QDate>("first"); d <= QDate(2026, 12, 12); d = d.addDays(1))
            history.add(d, 1'000'000'000, 500'000'000);
        const QDateTime now = QDateTime::fromString(cell<QString>("now") + u'Z', Qt::ISODate);
        const CapSettings cap{
            true,
            cell<bool>("daily") ? CapRules::Period::Daily : CapRules::Period::Monthly,
            1,
            cell<double>("cap"),
            CapRules::Unit::GB,
            cell<bool>("sentOnly") ? CapRules::Direction::Sent : CapRules::Direction::Both};
        const auto s = CapForecast::read(history, "eth0", cap, now.date(), now.toSecsSinceEpoch(),
                                         QTimeZone::utc());
        QTEST(QStringLiteral("%1|%2%3|%4")
                  .arg(s.used / 1e9)
                  .arg(s.runsOut.kind)
                  .arg(s.runsOut.day.isValid() ? u' ' + s.runsOut.day.toString(Qt::ISODate)
                                               : QString())
                  .arg(CapForecast::level(s.used, s.cap, cap.warnings)),
              "state");
    }

    // Hourly periods of one byte, then local days, months, hours ("local start=bytes", from the
    // UTC hour given, eth0's first record at 2026-03-29 01:00 UTC), the busiest days and years in
    // Berlin.
    void localPeriods_data() {
        const auto r = table<QString, QDate, QDate, QString>({"what", "first", "last", "totals"});
        r("spring forward: 23 hours", "days", QDate(2026, 3, 28), QDate(2026, 3, 30), "24 23 24");
        r("months end at local midnight", "months", QDate(2026, 3, 1), QDate(2026, 4, 30),
          "166 50");
        r("whole UTC days", "days", QDate(2025, 6, 9), QDate(2025, 6, 11), "0 1000 0");
        r("hours skip 02:00 when the clocks go forward", "hours 2026-03-28T23:00", {}, {},
          "2026-03-29 00:00=- 2026-03-29 01:00=- 2026-03-29 03:00=1 2026-03-29 04:00=1");
        r("hours repeat 02:00 when they go back", "hours 2026-10-24T23:00", {}, {},
          "2026-10-25 01:00=0 2026-10-25 02:00=0 2026-10-25 02:00=0 2026-10-25 03:00=0");
        r("busiest ten: a whole day, equal days by date, 23-hour days", "top", {}, {},
          "2025-06-10=1000 2026-03-26=24 2026-03-27=24 2026-03-28=24 2026-03-30=24 2026-03-31=24 "
          "2026-04-01=24 2026-04-02=24 2026-03-25=23 2026-03-29=23");
        r("years: months summed", "years", QDate(2025, 1, 1), QDate(2026, 12, 1),
          "2025-01-01=1000 2026-01-01=216");
    }
    void localPeriods() {
        std::vector<Period> rows{{1749513600, kDay, 1000, 0}};             // 2025-06-10 UTC
        for (qint64 t = 1774396800; t < 1774396800 + 9 * kDay; t += kHour) // from 2026-03-25 UTC
            rows.push_back({t, kHour, 1, 0});
        const QTimeZone berlin("Europe/Berlin");
        const QDate first = cell<QDate>("first"), last = cell<QDate>("last");
        const QStringList what = cell<QString>("what").split(u' ');
        const qint64 from =
            QDateTime::fromString(what.value(1) + u'Z', Qt::ISODate).toSecsSinceEpoch();
        const auto totals = what[0] == "months"  ? months(rows, first, last, berlin)
                            : what[0] == "days"  ? days(rows, first, last, berlin)
                            : what[0] == "hours" ? hours(rows, from, 4, berlin, 1774746000)
                            : what[0] == "top"   ? topDays(rows, 10, berlin)
                                                 : years(months(rows, first, last, berlin));
        QStringList shown;
        for (const auto &t : totals) {
            const QString figure = t.known ? QString::number(t.received) : QStringLiteral("-");
            shown << (what[0] == "days" || what[0] == "months"
                          ? figure
                          : t.period.toString(Qt::ISODate) +
                                (t.hour.isValid() ? u' ' + t.hour.toString(u"HH:mm") : QString()) +
                                u'=' + figure);
        }
        QTEST(shown.join(u' '), "totals");
    }

    // 600 bytes either side of a local midnight stay on their days when fine periods become
    // hours (two days on) and hours days (400 days on).
    void localDaysAfterMerges_data() {
        const auto r = table<QByteArray>({"zone"});
        r("half an hour east", "Asia/Kolkata");
        r("three quarters east", "Asia/Kathmandu");
        r("west, with DST", "America/New_York");
    }
    void localDaysAfterMerges() {
        StoreRig rig;
        const QTimeZone zone(cell<QByteArray>("zone"));
        if (!zone.isValid())
            QSKIP("this system's time-zone data does not hold the zone");
        rig.platform.utc = QDateTime(QDate(2026, 12, 6), QTime(23, 40), zone).toSecsSinceEpoch();
        auto rec = rig.recorder(zone);
        QString expected = QStringLiteral("600 0");
        for (const qint64 step : {900, 900, 3 * 86400, 400 * 86400}) {
            rig.interfaces.find(2)->inOctets += step < 1000 ? 600 : 0;
            rig.platform.advance(step);
            QVERIFY(rec->saveNow());
            const auto days = rec->days("eth0", QDate(2026, 12, 6), QDate(2026, 12, 7));
            QCOMPARE(QStringLiteral("%1 %2").arg(days[0].received).arg(days[1].received), expected);
            expected = QStringLiteral("600 600");
        }
    }

    // The report of the selected adapter goes by its stored name, not by an index that now
    // names another link; the names kept can each be told apart, and the remedy is named. A
    // name that is not UTF-8 is found by its bytes, as the command line gives them.
    void reportNames() {
        TestPlatform env;
        StoreRig rig;
        rig.interfaces.add(3, QStringLiteral("Wi-Fi 2"));
        rig.interfaces.add(4, QString()).name = "w\xe9n0";
        QVERIFY(rig.recorder()->saveNow());
        store(QStringLiteral("Adapter"), QStringLiteral("3"));
        store(QStringLiteral("AdapterName"), QStringLiteral("eth0"));
        QString said;
        const char *const argv[] = {"zarn-bandwidth", "w\xe9n0"};
        const QByteArray odd = argumentBytes(programArguments(2, argv).at(0));
        for (const QByteArray &name : {QByteArray(), QByteArray("wlan0"), odd}) {
            FILE *out = std::tmpfile();
            UsageReport::run({name}, rig.interfaces, rig.platform, out, out);
            std::rewind(out);
            char line[200] = {};
            said += QString::fromLocal8Bit(std::fgets(line, sizeof line, out));
            std::fclose(out);
        }
        QCOMPARE(said, "Usage of eth0\nzarn-bandwidth: there is no usage history of wlan0 "
                       "(kept: \"Wi-Fi 2\", \"eth0\", \"w\\xe9n0\"); to record it, tick \"Record "
                       "usage of this interface\" in the Usage window, or name it in "
                       "HistoryInterfaces\nUsage of w\\xe9n0\n");
    }

    // A store of 1.2.0 is migrated once: eth0 saved at 1000 received, 1000 more since; a store
    // that 1.2.0 paused (history off) counts none of it.
    void migrates_data() {
        const auto r = table<QByteArray, quint64>({"paused", "kept"});
        r("recording", "", 1500);
        r("paused by history switched off", "1", 500);
    }
    void migrates() {
        StoreRig rig;
        QDir().mkpath(rig.platform.folder);
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(UsageRecorder::storePath(rig.platform).toUtf8().constData(), &db),
                 SQLITE_OK);
        const QByteArray v1 =
            "CREATE TABLE periods(length INTEGER NOT NULL, start INTEGER NOT NULL, interface BLOB "
            "NOT NULL, received INTEGER NOT NULL, sent INTEGER NOT NULL, PRIMARY KEY(length, "
            "start, interface)) WITHOUT ROWID; CREATE TABLE counters(interface BLOB PRIMARY KEY, "
            "boot_id BLOB NOT NULL, link_index INTEGER NOT NULL, received INTEGER NOT NULL, sent "
            "INTEGER NOT NULL, boot_ms INTEGER NOT NULL) WITHOUT ROWID; CREATE TABLE notes(key "
            "BLOB PRIMARY KEY, value BLOB NOT NULL) WITHOUT ROWID; PRAGMA user_version=1;"
            "INSERT INTO periods VALUES(300, 0, CAST('eth0' AS BLOB), 500, 0);"
            "INSERT INTO counters VALUES(CAST('eth0' AS BLOB), CAST('boot-1' AS BLOB), 2, 1000, 0, "
            "0); INSERT INTO notes VALUES(CAST('paused' AS BLOB), CAST('" +
            cell<QByteArray>("paused") + "' AS BLOB))";
        QCOMPARE(sqlite3_exec(db, v1.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        rig.interfaces.find(2)->inOctets = 2000;
        auto rec = rig.recorder();
        QVERIFY(rec->saveNow());
        quint64 kept = 0;
        for (const auto &p : rec->store()->periods("eth0", 0, LLONG_MAX))
            kept += p.received;
        QTEST(kept, "kept");
        QVERIFY(rec->store()->note("paused").isEmpty());
    }

    // A roll-up that cannot be written (a full disk) fails the save and
    // leaves the detail it would have replaced.
    void failedRollUpKeepsTheDetail() {
        StoreRig rig;
        auto rec = rig.recorder();
        rig.interfaces.find(2)->inOctets += 1000;
        rig.platform.sinceBootMs += 7000;
        QVERIFY(rec->saveNow());
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(UsageRecorder::storePath(rig.platform).toUtf8().constData(), &db),
                 SQLITE_OK);
        const QByteArray full = "CREATE TRIGGER full BEFORE INSERT ON periods WHEN NEW.length=" +
                                QByteArray::number(kHour) +
                                " BEGIN SELECT RAISE(ABORT, 'full'); END";
        QCOMPARE(sqlite3_exec(db, full.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        rig.platform.utc += 3 * 86400;
        QVERIFY(!rec->saveNow());
        sqlite3_stmt *sum = nullptr;
        sqlite3_prepare_v2(db, "SELECT sum(received) FROM periods", -1, &sum, nullptr);
        QCOMPARE(sqlite3_step(sum), SQLITE_ROW);
        QCOMPARE(sqlite3_column_int64(sum, 0), 1000);
        sqlite3_finalize(sum);
        sqlite3_close(db);
    }

    // Today holds the unsaved tick. A lost link's last tick is saved, one back
    // under its name or new while running counts from zero.
    void linksComeAndGo() {
        StoreRig rig;
        auto rec = rig.recorder();
        const QDate day(2026, 12, 7);
        const auto today = [&](const char *name) {
            return rec->days(name, day, day).at(0).received;
        };
        rec->sampled({2, "eth0", true, false, 0, 0, 4000, 2000});
        QCOMPARE(today("eth0"), quint64(4000));
        rig.interfaces.rows.erase(rig.interfaces.rows.begin());
        rec->sampled({2, QByteArray(), false, false, 0, 0, 0, 0});
        rig.interfaces.add(9, QStringLiteral("eth0")).inOctets = 100; // back at once
        rig.interfaces.add(7, QStringLiteral("tun0")).inOctets = 700;
        QCoreApplication::processEvents(); // the save the lost link asked for
        rig.platform.advance(10);
        QVERIFY(rec->saveNow() && rec->saveNow()); // the second adds nothing
        QCOMPARE(today("eth0"), quint64(4100));
        QCOMPARE(today("tun0"), quint64(700));
    }

    // An unusable store turns history off with the reason and stays as it was.
    void unusableStores_data() {
        const auto r = table<QByteArray, QString>({"setup", "reason"});
        r("garbage", "garbage", "damaged");
        r("newer", "CREATE TABLE periods(x); PRAGMA user_version=3", "newer version");
        r("another program's database", "CREATE TABLE photos(x)", "not a usage history");
    }
    void unusableStores() {
        const QByteArray setup = cell<QByteArray>("setup");
        StoreRig rig;
        const QString path = UsageRecorder::storePath(rig.platform);
        QDir().mkpath(rig.platform.folder);
        QFile garbage(path);
        QVERIFY(setup != "garbage" || (garbage.open(QIODevice::WriteOnly) &&
                                       garbage.write(QByteArray(8192, 'x')) && garbage.flush()));
        sqlite3 *db = nullptr; // open for the lock, idle otherwise
        QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        if (setup != "garbage")
            QCOMPARE(sqlite3_exec(db, setup.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
        const QByteArray before = fileBytes(path);
        auto rec = rig.recorder();
        QVERIFY(!rec->available());
        QVERIFY2(rec->error().contains(cell<QString>("reason")), qPrintable(rec->error()));
        rec->sampled({2, "eth0", true, false, 0, 0, 100, 100});
        QVERIFY(!rec->saveNow() &&
                rec->days("eth0", QDate(2026, 12, 1), QDate(2026, 12, 7)).empty());
        QCOMPARE(fileBytes(path), before);
        sqlite3_close(db);
    }

    // Sizes in one readable unit with three significant digits, rates in k/sec or bits.
    void units_data() {
        const auto r = table<double, QByteArray, QString>({"value", "as", "text"});
        r("bytes", 999, "B", "999 B");
        r("999,999 bytes round up a unit", 999999, "B", "1.00 MB");
        r("a million", 1e6, "B", "1.00 MB");
        r("three digits", 2107312513, "B", "2.11 GB");
        r("one decimal from ten", 12345678, "B", "12.3 MB");
        r("999,950,000 bytes are 1.00 GB", 999950000, "B", "1.00 GB");
        r("beyond the largest unit", 5e15, "B", "5,000 TB");
        r("binary", 1073741824, "iB", "1.00 GiB");
        r("1023.6 KiB are 1.00 MiB", 1048166, "iB", "1.00 MiB");
        r("German decimal comma", 2107312513, "B de", "2,11 GB");
        r("k/sec as the mini window, German", 2500, "k de", "2,50 k/sec");
        r("a scale's whole k/sec, German", 2e6, "k axis de", "2.000 k/sec");
        r("a scale's whole kbit/s", 2500, "bit axis", "20 kbit/s");
        r("kbit/s", 2500, "bit", "20.0 kbit/s");
        r("a chart's top line, round in MiB", 400 * 1048576.0 + 1, "iB top", "500 MiB");
        r("a chart's top line in MB", 47e6, "B top", "50.0 MB");
        r("Mbit/s", 1234567, "bit", "9.88 Mbit/s");
        r("Gbit/s", 5e9, "bit", "40.0 Gbit/s");
    }
    void units() {
        using namespace UsageUnits;
        const QByteArray as = cell<QByteArray>("as");
        const QLocale locale(as.endsWith(" de") ? QLocale::German : QLocale::English);
        const double value = cell<double>("value");
        const RateUnit unit = as.startsWith('k') ? RateUnit::KiloBytes : RateUnit::Bits;
        const System system = as.startsWith("iB") ? System::Binary : System::Decimal;
        const quint64 bytes = as.contains("top") ? UsageBars::topLine(value, system) : value;
        QTEST(as.startsWith('k') || as.startsWith("bit")
                  ? (as.contains("axis") ? axisRate : rate)(value, unit, locale)
                  : size(bytes, system, locale),
              "text");
    }

    // The JSON scripts rely on: key order, whole numbers beyond 2^53, null before the first
    // record, which the text shows as "-" and the CSV leaves empty; the cap with its forecast,
    // and the estimates after today's and this month's lines.
    void reportJson() {
        CapSettings cap{true, CapRules::Period::Monthly, 1, 50};
        const CapForecast::State state{{QDate(2026, 12, 1), QDate(2026, 12, 31)},
                                       41'200'000'000,
                                       50'000'000'000,
                                       {Forecast::RunsOut::On, QDate(2026, 12, 21)}};
        const UsageReport::Report report{
            "wl\"an0",
            {{QDate(2026, 12, 7), Q_UINT64_C(9007199254740993), 45}},
            {{QDate(2026, 11, 1), 0, 0, false}, {QDate(2026, 12, 1), 123, 0}},
            {{QDate(2026, 12, 7), 0, 0, false, QTime(23, 30)},
             {QDate(2026, 12, 8), 5, 6, true, QTime(0, 30)}},
            {},
            {{QDate(2026, 1, 1), 123, 0}},
            5'020'000'000,
            96'000'000'000,
            UsageReport::Cap{cap, state}};
        QCOMPARE(
            UsageReport::json(report),
            QByteArray("{\"interface\": \"wl\\\"an0\", \"days\": [{\"date\": \"2026-12-07\", "
                       "\"received\": 9007199254740993, \"sent\": 45}], \"months\": "
                       "[{\"month\": \"2026-11\", \"received\": null, \"sent\": null}, "
                       "{\"month\": \"2026-12\", \"received\": 123, \"sent\": 0}], "
                       "\"hours\": [{\"hour\": \"2026-12-07T23:30\", \"received\": null, "
                       "\"sent\": null}, {\"hour\": \"2026-12-08T00:30\", \"received\": 5, "
                       "\"sent\": 6}], \"top\": [], \"years\": [{\"year\": \"2026\", "
                       "\"received\": 123, \"sent\": 0}], \"cap\": {\"size\": 50000000000, "
                       "\"used\": 41200000000, \"start\": \"2026-12-01\", \"end\": "
                       "\"2026-12-31\", \"levels\": [80, 100], \"forecast\": \"2026-12-21\"}}\n"));
        QCOMPARE(UsageReport::csv(report, UsageReport::Table::Hours),
                 "hour,received,sent\r\n2026-12-07T23:30,,\r\n2026-12-08T00:30,5,6\r\n");
        const QString text = UsageReport::text(report, UsageUnits::System::Decimal, QLocale::c());
        QVERIFY2(text.contains("; about 5.02 GB by midnight\n"
                               "This month: 123 B received, 0 B sent; about 96.0 GB by 31 Dec\n"
                               "Data cap: 41.20 GB of 50.00 GB (82 %) received and sent from "),
                 qPrintable(text));
        QVERIFY(text.contains(" At this pace the cap is used up on 21 Dec.\n"));
        for (const QString &text : {UsageReport::text(report, UsageUnits::System::Decimal),
                                    UsageReport::bytesText(report)})
            QVERIFY(text.contains(QRegularExpression("\n2026-11 +- +- +-\n")));
    }

    // Graph scales: the 1-2-5 step above the highest rate still on the
    // two-minute graph. Trail points "seconds:down:up[:interface[:seconds late]]", "-" read
    // nothing.
    void scaleRules_data() {
        const auto r = table<QString, double, double>({"trail", "down", "up"});
        r("idle link: the 1 k/sec floor", "0:0:0", 1000, 1000);
        r("steps of 2 and 5", "0:1001:4999", 2000, 5000);
        r("next decade", "0:10001:2000001", 20000, 5000000);
        r("holds while the peak is on the graph", "0:48000:0 1:100:0 120:100:0", 50000, 1000);
        r("falls once the peak has left", "0:48000:0 1:3000:0 121:100:0", 5000, 1000);
        r("and again as the next one leaves", "0:48000:0 1:3000:0 121:100:0 122:100:0", 1000, 1000);
        r("a gap keeps the peak", "0:48000:0 1:-:- 2:100:0", 50000, 1000);
        r("so does a failed read", "0:48000:0 1:-:-: 2:100:0", 50000, 1000);
        r("a new interface starts afresh", "0:48000:48000 2:100:0:wlan0", 1000, 1000);
        r("a reading caught up late counts from when it was read", "1:48000:0:eth0:1 121:100:0",
          1000, 1000);
    }
    void scaleRules() {
        TestPlatform env;
        qint64 now = 0;
        UsageFeature feature(nullptr, nullptr, {[&now] { return now; }, [] { return QDate(); }});
        for (const QString &point : cell<QString>("trail").split(u' ')) {
            const QStringList p = point.split(u':');
            now = p[0].toLongLong() * 1000;
            feature.sampled({2, p.value(3, "eth0").toUtf8(), true, p[1] != u"-", p[1].toDouble(),
                             p[2].toDouble(), 0, 0, p.value(4).toLongLong() * 1000});
        }
        QTEST(feature.trail().downScale(), "down");
        QTEST(feature.trail().upScale(), "up");
        RateGraph graph(feature.trail(), &RateTrail::Point::down, Qt::blue);
        for (double label : {graph.scale(), graph.scale() / 2}) // the labels fit beside the plot
            QVERIFY(graph.fontMetrics().horizontalAdvance(UsageUnits::axisRate(
                        label, UsageUnits::RateUnit::KiloBytes)) < graph.plotRect().left());
        // A dark palette's mid a shade off its base: the hair lines still show.
        QPalette dark;
        dark.setColor(QPalette::Base, QColor(0x24, 0x24, 0x24));
        dark.setColor(QPalette::Mid, QColor(0x26, 0x26, 0x26));
        graph.setPalette(dark);
        const QRect plot = graph.plotRect();
        // Painted into an image, not grabbed: under Wine a grab makes the
        // unshown graph a window of its own, and the fonts of later tests
        // come out wider.
        QImage painted(graph.size(), QImage::Format_RGB32);
        graph.render(&painted);
        QVERIFY(Contrast::ratio(painted.pixelColor(plot.center().x(), plot.top()),
                                dark.base().color()) >= 1.5);
    }

    // A reset day past the end of a month means its last day (see also capWarnings).
    void periods_data() {
        const auto r = table<bool, int, QString, QString>({"monthly", "reset", "today", "span"});
        r("daily", false, 31, "2026-12-07", "2026-12-07 2026-12-07");
        r("30th in a leap February", true, 30, "2028-02-29", "2028-02-29 2028-03-29");
        r("reset day today", true, 7, "2026-12-07", "2026-12-07 2027-01-06");
        r("day before the reset", true, 8, "2026-12-07", "2026-11-08 2026-12-07");
        r("across the new year", true, 15, "2027-01-03", "2026-12-15 2027-01-14");
    }
    void periods() {
        const auto span = CapRules::periodOf(
            cell<bool>("monthly") ? CapRules::Period::Monthly : CapRules::Period::Daily,
            cell<int>("reset"), QDate::fromString(cell<QString>("today"), Qt::ISODate));
        QTEST(span.first.toString(Qt::ISODate) + u' ' + span.last.toString(Qt::ISODate), "span");
    }

    // Each warning once per period, across restarts, given once the desktop took it; a new
    // period warns again, another cap too, but not one switched away from and back. Unreadable
    // values are the defaults: warnings at 80 and 100 % of GB
    // received and sent, monthly.
    void capWarnings() {
        TestPlatform env;
        for (const auto &[key, text] : {std::pair{"Enabled", "1"},
                                        {"Amount", "1"},
                                        {"ResetDay", "31"},
                                        {"Unit", "TB"},
                                        {"Counts", "x"},
                                        {"Warnings", "0 80"},
                                        {"Period", "weekly"}})
            store(QLatin1String("DataCap") + QLatin1String(key), QLatin1String(text));
        FakeUsageHistory history;
        history.add(QDate(2026, 1, 30), 900'000'000); // before the period
        history.add(QDate(2026, 1, 31), 400'000'000, 399'999'999);
        QDate today;
        struct : Notifier { // the balloon's, with the urgency of each one taken
            TrayNotifier *balloon;
            QList<Urgency> urgencies;
            bool notify(const QString &title, const QString &text, Urgency urgency) override {
                const bool taken = balloon->notify(title, text, urgency);
                if (taken)
                    urgencies << urgency;
                return taken;
            }
        } notifier;
        TrayNotifier balloon(env.tray);
        notifier.balloon = &balloon;
        std::unique_ptr<CapWatcher> watcher;
        const auto tick = [&](QDate day, quint64 received, bool restart) {
            today = day;
            history.add(day, received);
            if (restart)
                watcher = std::make_unique<CapWatcher>(&history, &notifier, [&] { return today; });
            watcher->sampled({2, "eth0"});
        };
        tick(QDate(2026, 2, 10), 0, true);
        env.tray.available = false;         // nothing takes the warning: not given yet
        tick(QDate(2026, 2, 10), 1, false); // 800,000,000 bytes: 80 % of 1 GB exactly
        env.tray.available = true;
        tick(QDate(2026, 2, 10), 0, false);
        tick(QDate(2026, 2, 10), 0, true);            // still 80 %: given before the restart
        tick(QDate(2026, 2, 10), 250'000'000, false); // 105 %: only 100 % is new
        tick(QDate(2026, 2, 28), 850'000'000, true);  // the 31st falls on February's last day
        const QStringList &given = env.tray.messages;
        QCOMPARE(given.size(), 3); // the third: 80 % of the new period
        QVERIFY(given[0].startsWith(
            u"eth0: 80 % of the data cap used: 0.80 GB of 1.00 GB (80 %) received and sent from "));
        QVERIFY(given[1].startsWith(u"eth0: 100 % of the data cap used: 1.05 GB"));
        using enum Notifier::Urgency; // a cap used up is critical, a warning before it is not
        QCOMPARE(notifier.urgencies, QList({Normal, Critical, Normal}));
        // Only the counted direction, in the chosen unit; stored at once. Another cap
        // warns afresh: the 80 % already given counted received bytes of 1 GB.
        watcher->setSettings({true, CapRules::Period::Monthly, 31, 1, CapRules::Unit::GiB,
                              CapRules::Direction::Sent});
        history.add(QDate(2026, 2, 28), 0, 900'000'000);
        tick(QDate(2026, 2, 28), 0, false);
        QCOMPARE(watcher->status().counted.cap, quint64(1024 * 1024 * 1024));
        QCOMPARE(stored("DataCapCounts"), QStringLiteral("sent"));
        QVERIFY(
            given.value(3).startsWith(u"eth0: 80 % of the data cap used: 0.84 GiB of 1.00 GiB"));
        for (const auto period : {CapRules::Period::Daily, CapRules::Period::Monthly}) {
            CapSettings s = watcher->settings();
            s.period = period;
            watcher->setSettings(s);
            tick(QDate(2026, 2, 28), 0, false);
        }
        tick(QDate(2026, 2, 28), 0, true);
        QCOMPARE(given.size(), 5); // the daily cap's own 80 %, then nothing again
        QVERIFY(given[4].startsWith(
            u"eth0: 80 % of the data cap used: 0.84 GiB of 1.00 GiB (83 %) sent on"));
    }

    // One window, where it was left last time, with the Monitor tab's figures, in the units
    // stored; the days up to today, those before the first record as "-"; Esc and Ctrl+W close
    // it; the boxes act on their state, also when a screen reader toggles them.
    void windowFromTheMenu() {
        Rig r;
        FakeUsageHistory history;
        history.name = "<b>eth0</b>";
        const QDate today(2027, 1, 28); // far down the month's list of days
        history.add(today, 1234567, 89);
        UsageFeature feature(&history, nullptr,
                             {UsageFeature::systemClocks().monotonicMs, [&] { return today; }});
        feature.attach(r.w.monitor, r.w.mUsage);
        r.env.interfaces.add(2, QStringLiteral("Fast Ethernet Adapter")).name = history.name;
        r.w.monitor->tmrAdapterUpdate->setInterval(1000);
        r.w.monitor->trackedAdapter = 2;
        r.w.monitor->selectedAdapter = 2;
        r.w.monitor->tmrAdapterUpdate_Timer();
        r.w.mUsage->trigger();
        UsageWindow *window = feature.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->lblInterface->textFormat(), Qt::PlainText);
        QCOMPARE(window->lblInterface->text(), QStringLiteral("Interface: <b>eth0</b>"));
        r.env.interfaces.find(2)->inOctets += 12346;
        r.env.interfaces.find(2)->outOctets += 333;
        r.w.monitor->tmrAdapterUpdate_Timer();
        QCOMPARE(window->lblDown->text() + u'|' + window->lblUp->text(),
                 QStringLiteral("Download: 12.35 k/sec|Upload: 0.33 k/sec"));
        QCOMPARE(window->lblToday->text() + u'|' + window->lblToday->toolTip(),
                 "Today: 1.23 MB received, 89 B sent|1,234,567 bytes received, 89 bytes sent");
        window->cmbRates->setCurrentIndex(1);
        emit window->cmbRates->activated(1); // bits, stored for the next start and applied at once
        QCOMPARE(window->lblUp->text() + u' ' + stored("UsageWindowRates"),
                 "Upload: 2.66 kbit/s bits");
        QCOMPARE(window->tableMonths->rowCount(), 12);
        QCOMPARE(window->tableMonths->item(0, 0)->text() + u' ' +
                     window->tableMonths->item(0, 3)->text() + u' ' +
                     window->tableMonths->item(11, 0)->text() + u' ' + window->lblThisMonth->text(),
                 QStringLiteral("Feb 2026 - Jan 2027 ◂ This month: 1.23 MB received, 89 B sent"));
        QTest::keyClick(window->tableMonths, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        feature.sampled({2, history.name, true, true, 3e6}); // while hidden; 24 Mbit/s: 50 on top
        r.w.mUsage->trigger();
        QVERIFY(feature.window() == window && window->graphDown->scale() == 50e6 / 8);
        QCOMPARE(window->graphDown->plotRect().left(), window->graphUp->plotRect().left());
        for (int tab : {3, 1}) // each list opens at today, or this month
            window->tabs->setCurrentIndex(tab);
        for (QTableWidget *table : {window->tableMonths, window->tableDays})
            QVERIFY(table->viewport()->rect().contains(
                table->visualItemRect(table->item(table->rowCount() - 1, 0))));
        QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                     .arg(window->tableDays->rowCount())
                     .arg(window->tableDays->item(0, 1)->text(),
                          window->tableDays->item(27, 3)->text(),
                          window->tableDays->horizontalHeaderItem(3)->text()),
                 "28 - 1.23 Total (MB)");
        // The cap's size is taken once typed and committed, and not put in form under the
        // fingers; another control changed meanwhile commits nothing.
        window->spnAmount->selectAll();
        QTest::keyClicks(window->spnAmount, "0.49");
        window->cmbCounts->setCurrentIndex(1);
        QCOMPARE(window->spnAmount->text() + u' ' + stored("DataCapAmount"), "0.49 " + kAbsent);
        QTest::keyClick(window->spnAmount, Qt::Key_Return);
        QCOMPARE(stored("DataCapAmount"), QStringLiteral("0.49"));
        // Another start: where it was, kept on the screen, and made to fit; history off says so.
        const QRect screen = window->screen()->availableGeometry();
        window->move(screen.right() - 100, 70);
        history.on = false;
        store(QStringLiteral("UsageWindowSizes"), QStringLiteral("1024"));
        UsageFeature again(&history, nullptr);
        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!window->isVisible());
        again.showWindow();
        QVERIFY(again.window()->graphUp->rateUnit() == UsageUnits::RateUnit::Bits &&
                again.window()->barsMonths->system() == UsageUnits::System::Binary);
        QCOMPARE(again.window()->pos(), QPoint(screen.right() + 1 - window->width(), 70));
        again.window()->resize(screen.size() + QSize(200, 300));
        again.showWindow();
        QCOMPARE(again.window()->frameGeometry(), screen);
        QCOMPARE(qobject_cast<QStackedWidget *>(again.window()->tabs->widget(1))->currentIndex(),
                 1);
        // A veth counts from the tick of its box on, at once; switched off, history says so.
        StoreRig rig;
        rig.interfaces.add(5, QStringLiteral("veth0"));
        auto rec = rig.recorder();
        UsageFeature veth(rec.get(), nullptr);
        veth.cap().setSettings({true});
        veth.showWindow();
        UsageWindow *v = veth.window();
        veth.sampled({5, "veth0"});
        QCOMPARE(v->lblRecording->text() + u'|' + v->lblCapStatus->text(),
                 "Usage of veth0 is not recorded.|Usage of veth0 is not recorded, so the data "
                 "cap cannot count it.");
        const auto toggle = [](QCheckBox *box) { // as a screen reader does: no click
            QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
        };
        toggle(v->chkRecord);
        QCoreApplication::processEvents(); // the save it asked for
        rig.interfaces.find(5)->inOctets += 700;
        rig.platform.advance(10);
        QVERIFY(rec->saveNow() && v->lblRecording->isHidden());
        v->tabs->setCurrentIndex(2); // Hours: the current one marked, exported as shown
        const QByteArray csv = v->shownCsv();
        QCOMPARE(QStringLiteral("%1 %2 %3")
                     .arg(v->tableHours->rowCount())
                     .arg(v->tableHours->item(23, 0)->text().endsWith(u"◂"))
                     .arg(v->tableHours->item(23, 1)->text()),
                 "24 1 700");
        QVERIFY2(csv.startsWith("hour,received,sent\r\n") && csv.endsWith(",700,0\r\n") &&
                     csv.count('\n') == 25 && v->btnExport->isEnabled(),
                 csv.constData());
        const auto days = rec->days("veth0", QDate(2026, 12, 6), QDate(2026, 12, 7));
        QVERIFY(!days.at(0).known && days.at(1).known && days.at(1).received == 700u);
        toggle(v->chkKeepHistory);
        veth.sampled({5, "veth0"});
        QCOMPARE(stored("KeepHistory") + stored("HistoryInterfaces") + v->lblCapStatus->text(),
                 "0veth0The usage history is off, so the data cap cannot count.");
        QCOMPARE(qobject_cast<QStackedWidget *>(v->tabs->widget(2))->currentIndex(), 1);
        rig.interfaces.find(5)->inOctets += 500; // moved while history is off: never counted
        v->chkKeepHistory->click();
        rig.platform.advance(10);
        QVERIFY(rec->saveNow());
        QCOMPARE(rec->days("veth0", QDate(2026, 12, 7), QDate(2026, 12, 7)).at(0).received, 700u);
    }
};

QTEST_MAIN(UsageTest)
#include "test_usage.moc"
