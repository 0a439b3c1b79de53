#include "support/Fakes.h"
#include "support/Table.h"
#include "usage/UsageRecorder.h"
#include "usage/UsageReport.h"
#include "usage/UsageRules.h"

#include <QDateTime>
#include <QtTest>
#include <sqlite3.h>

// The usage history: the counting rules, local days and months across
// daylight saving, the store with two copies, restarts and lost links, and
// stores that cannot be used.

using namespace UsageRules;

namespace {

QString kindName(CountKind k) {
    switch (k) {
    case CountKind::First:
        return QStringLiteral("first");
    case CountKind::Delta:
        return QStringLiteral("delta");
    case CountKind::Reset:
        return QStringLiteral("reset");
    case CountKind::Reboot:
        return QStringLiteral("reboot");
    case CountKind::Stale:
        return QStringLiteral("stale");
    case CountKind::Implausible:
        return QStringLiteral("implausible");
    }
    return {};
}

// "24 23 24": the received bytes of each period.
QString receivedList(const std::vector<UsageTotal> &totals) {
    QStringList out;
    for (const auto &t : totals)
        out << QString::number(t.received);
    return out.join(QLatin1Char(' '));
}

qint64 utc(const char *iso) {
    return QDateTime::fromString(QLatin1String(iso), Qt::ISODate).toSecsSinceEpoch();
}

// One interface, its recorder and the store they share in a temporary folder.
struct Rig {
    QTemporaryDir dir;
    FakeInterfaceSource interfaces;
    FakeUsagePlatform platform;
    Rig() {
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
    QString store() { return UsageRecorder::storePath(platform); }
    // Received bytes of eth0 in the store today, read as the report does.
    quint64 today(const UsageHistory &h) {
        const QDate d = QDateTime::fromSecsSinceEpoch(platform.utc, QTimeZone::utc()).date();
        const auto days = h.days("eth0", d, d);
        return days.empty() ? 0 : days[0].received;
    }
    void grow(quint64 bytes) {
        eth0().inOctets += bytes;
        eth0().outOctets += bytes / 2;
    }
};

} // namespace

class UsageTest : public QObject {
    Q_OBJECT
private slots:
    void count_data() {
        const auto r =
            table<bool, QByteArray, qint32, quint64, quint64, qint64, qint32, quint64, bool,
                  QString, quint64>({"saved", "boot", "index", "rx", "speed", "ms", "savedIndex",
                                     "savedRx", "lagging", "kind", "counted"});
        // saved: 1000 received on index 2 of boot-1 at 100 s since boot.
        r("first sighting only sets the base", false, "boot-1", 2, 5000, 0, 160000, 2, 1000, false,
          "first", 0);
        r("growth on the same link", true, "boot-1", 2, 5000, 0, 160000, 2, 1000, false, "delta",
          4000);
        r("a lower counter is a reset, not a wrap", true, "boot-1", 2, 300, 0, 160000, 2,
          5000000000, false, "reset", 300);
        r("another link under the name counts from zero", true, "boot-1", 7, 5000, 0, 160000, 2,
          1000, false, "reset", 5000);
        r("after a reboot everything since boot", true, "boot-2", 2, 5000, 0, 160000, 2, 1000,
          false, "reboot", 5000);
        r("a tick older than the save is stale", true, "boot-1", 2, 900, 0, 160000, 2, 1000, true,
          "stale", 0);
        r("a tick newer than the save counts", true, "boot-1", 2, 1500, 0, 160000, 2, 1000, true,
          "delta", 500);
        // 100 Mbit/s for 60 s and a second of slack: 762,500,000 bytes.
        r("at the link's speed", true, "boot-1", 2, 762501000, 100000000, 160000, 2, 1000, false,
          "delta", 762500000);
        r("beyond the link's speed", true, "boot-1", 2, 762501001, 100000000, 160000, 2, 1000,
          false, "implausible", 0);
        r("unknown speed: 10 Gbit/s", true, "boot-1", 2, 76250001001, 0, 160000, 2, 1000, false,
          "implausible", 0);
        r("more since boot than the link carries", true, "boot-2", 2, 10000000000000, 0, 5000, 2,
          1000, false, "implausible", 0);
    }
    void count() {
        QFETCH(bool, saved);
        QFETCH(QByteArray, boot);
        QFETCH(qint32, index);
        QFETCH(quint64, rx);
        QFETCH(quint64, speed);
        QFETCH(qint64, ms);
        QFETCH(qint32, savedIndex);
        QFETCH(quint64, savedRx);
        QFETCH(bool, lagging);
        std::optional<Counter> before;
        if (saved)
            before = Counter{"boot-1", savedIndex, savedRx, 10, 100000};
        const Count c = UsageRules::count(before, {{boot, index, rx, 10, ms}, speed, lagging});
        QTEST(kindName(c.kind), "kind");
        QTEST(c.adds() ? c.received : 0, "counted");
    }

    // Hourly periods of one byte, then local days and months in Berlin.
    void localPeriods_data() {
        const auto r = table<bool, QDate, QDate, QString>({"byMonth", "first", "last", "totals"});
        r("spring forward: 23 hours", false, QDate(2026, 3, 28), QDate(2026, 3, 30), "24 23 24");
        r("fall back: 25 hours", false, QDate(2026, 10, 24), QDate(2026, 10, 26), "24 25 24");
        r("months end at local midnight", true, QDate(2026, 3, 1), QDate(2026, 4, 30), "166 50");
        r("whole UTC days keep their date", false, QDate(2025, 6, 9), QDate(2025, 6, 11),
          "0 1000 0");
        r("days without traffic are zeros", false, QDate(2026, 7, 1), QDate(2026, 7, 2), "0 0");
    }
    void localPeriods() {
        QFETCH(bool, byMonth);
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        std::vector<Period> rows;
        for (const auto &[from, to] : {std::pair{"2026-03-25T00:00:00Z", "2026-04-03T00:00:00Z"},
                                       std::pair{"2026-10-22T00:00:00Z", "2026-10-29T00:00:00Z"}})
            for (qint64 t = utc(from); t < utc(to); t += kHour)
                rows.push_back({t, kHour, 1, 0});
        rows.push_back({utc("2025-06-10T00:00:00Z"), kDay, 1000, 0});
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY(berlin.isValid());
        const auto totals =
            byMonth ? months(rows, first, last, berlin) : days(rows, first, last, berlin);
        QTEST(receivedList(totals), "totals");
    }

    // Two copies of the program saving in turns, each with its own idea of
    // the last counters, still count every byte once.
    void twoCopiesCountOnce() {
        Rig rig;
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

    // What passed while no copy ran: counted at the next start in the same
    // boot, from zero after a reboot; nothing before the first sighting.
    void restarts_data() {
        const auto r = table<bool, quint64, quint64>({"reboot", "whileDown", "expected"});
        r("killed and started again", false, 300, 800);
        r("rebooted: the unsaved tick is lost", true, 200, 200);
    }
    void restarts() {
        QFETCH(bool, reboot);
        QFETCH(quint64, whileDown);
        Rig rig;
        rig.eth0().inOctets = 123456;
        {
            auto first = rig.recorder(); // saves the first sighting at once
            rig.grow(500);
            first->sampled({2, "eth0", true, false, 0, 0, 123956, 0});
            QCOMPARE(rig.today(*first), quint64(500)); // the tick, not saved yet
        }                                              // killed: no last save
        if (reboot) {
            rig.platform.boot = "boot-2";
            rig.platform.sinceBootMs = 60000;
            rig.eth0().inOctets = 0;
        }
        rig.grow(whileDown);
        rig.platform.advance(60);
        auto second = rig.recorder();
        QTEST(rig.today(*second), "expected");
        // Started before the first save, the bytes of the killed copy's last
        // tick are not in the store: only what the kernel still had.
        QVERIFY(second->saveNow());
        QTEST(rig.today(*second), "expected");
    }

    // The selected link goes away between saves: its last tick is saved, a
    // link that comes back under the name starts from zero, and nothing is
    // counted twice.
    void selectedLinkGoesAway() {
        Rig rig;
        auto rec = rig.recorder();
        rig.grow(4000);
        rec->sampled({2, "eth0", true, false, 0, 0, 4000, 2000});
        rig.interfaces.rows.clear();
        rec->sampled({2, QByteArray(), false, false, 0, 0, 0, 0});
        rig.interfaces.add(9, QStringLiteral("eth0")).inOctets = 100; // back at once
        QCoreApplication::processEvents(); // the save the lost link asked for
        rig.platform.advance(10);
        QVERIFY(rec->saveNow());
        QVERIFY(rec->saveNow());
        QCOMPARE(rig.today(*rec), quint64(4100));
    }

    // A link that comes up while the program runs counts from zero; one
    // found at start-up only sets the base, since its past is unknown.
    void linkComesUp() {
        Rig rig;
        rig.eth0().inOctets = 5000;
        auto rec = rig.recorder();
        rig.platform.advance(60);
        rig.interfaces.add(7, QStringLiteral("tun0")).inOctets = 700;
        QVERIFY(rec->saveNow());
        const QDate d = QDateTime::fromSecsSinceEpoch(rig.platform.utc, QTimeZone::utc()).date();
        QCOMPARE(rec->days("tun0", d, d).at(0).received, quint64(700));
        QCOMPARE(rig.today(*rec), quint64(0));
    }

    // A clock set back or far forward: periods merge into coarser ones, but
    // no byte is lost or counted twice.
    void clockJumps() {
        Rig rig;
        auto rec = rig.recorder();
        quint64 total = 0;
        for (const qint64 jump : {600, -86400, 600, 3 * 365 * 86400, 600, -400 * 86400, 600}) {
            rig.grow(1000);
            total += 1000;
            rig.platform.utc += jump;
            rig.platform.sinceBootMs += 600000;
            QVERIFY(rec->saveNow());
        }
        const auto all = rec->months("eth0", QDate(2026, 1, 1), QDate(2030, 12, 1));
        quint64 sum = 0;
        for (const auto &m : all)
            sum += m.received;
        QCOMPARE(sum, total);
        sqlite3 *db = nullptr;
        QCOMPARE(sqlite3_open(rig.store().toUtf8().constData(), &db), SQLITE_OK);
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM periods WHERE received<0 OR sent<0", -1, &s,
                           nullptr);
        QCOMPARE(sqlite3_step(s), SQLITE_ROW);
        QCOMPARE(sqlite3_column_int(s, 0), 0);
        sqlite3_finalize(s);
        sqlite3_close(db);
    }

    // Stores that cannot be used turn history off with the reason and stay
    // exactly as they were.
    void unusableStores_data() {
        const auto r = table<QString, QString>({"setup", "reason"});
        r("garbage", "garbage", "damaged");
        r("truncated", "truncate", "damaged");
        r("from a newer version", "newer", "newer version");
        r("another program's database", "foreign", "not a usage history");
        r("locked by another program", "locked", "locked");
    }
    void unusableStores() {
        QFETCH(QString, setup);
        Rig rig;
        const bool made = setup == QLatin1String("truncate") || setup == QLatin1String("locked");
        if (made) {
            auto rec = rig.recorder(); // a good store of a few pages
            for (int i = 0; i < 300; ++i)
                rig.interfaces.add(100 + i, QStringLiteral("if%1").arg(i)).inOctets = 5;
            QVERIFY(rec->saveNow());
        } else {
            QDir().mkpath(rig.platform.folder);
        }
        const QString path = rig.store();
        if (setup == QLatin1String("garbage")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, 'x'));
        } else if (setup == QLatin1String("truncate")) {
            QVERIFY(QFile::resize(path, QFileInfo(path).size() / 2));
        } else if (!made) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
            sqlite3_exec(db,
                         setup == QLatin1String("newer")
                             ? "CREATE TABLE periods(x); PRAGMA user_version=2"
                             : "CREATE TABLE photos(x)",
                         nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        sqlite3 *holder = nullptr;
        if (setup == QLatin1String("locked")) {
            QCOMPARE(sqlite3_open(path.toUtf8().constData(), &holder), SQLITE_OK);
            QCOMPARE(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        const QByteArray before = fileBytes(path);
        auto rec = rig.recorder();
        QVERIFY(!rec->available());
        QFETCH(QString, reason);
        QVERIFY2(rec->error().contains(reason), qPrintable(rec->error()));
        rec->sampled({2, "eth0", true, false, 0, 0, 100, 100});
        QVERIFY(!rec->saveNow());
        QVERIFY(rec->days("eth0", QDate(2026, 12, 1), QDate(2026, 12, 7)).empty());
        QCOMPARE(fileBytes(path), before);
        sqlite3_close(holder);
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
};

QTEST_GUILESS_MAIN(UsageTest)
#include "test_usage.moc"
