#include "support/Harness.h"
#include "usage/UsageHistory.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/UsageCharts.h"
#include "usagewindow/UsageFeature.h"

#include <QAction>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <cmath>
#include <map>

namespace {

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
        if (n != name)
            return t;
        for (auto it = perDay.lower_bound(first); it != perDay.end() && it->first <= last; ++it) {
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

class UsageWindowTest : public QObject {
    Q_OBJECT
private slots:
    // Each direction's scale is the 1-2-5 step above the highest rate still
    // on the two-minute graph: up at once, down only once the peak has gone.
    // A trail is "seconds:down:up" points, "-" for a tick that read nothing.
    void scaleRules_data() {
        auto r = table<QString, double, double>({"trail", "down", "up"});
        r("idle link: the 1 k/sec floor", "0:0:0", 1000, 1000);
        r("steps of 2 and 5", "0:1001:1999", 2000, 2000);
        r("step of 10", "0:5001:10000", 10000, 10000);
        r("next decade", "0:10001:2000001", 20000, 5000000);
        r("rises at once", "0:1500:0 1:48000:0", 50000, 1000);
        r("holds while the peak is on the graph", "0:48000:0 1:100:0 120:100:0", 50000, 1000);
        r("falls once the peak has left", "0:48000:0 1:3000:0 121:100:0", 5000, 1000);
        r("falls step by step", "0:48000:0 60:7000:0 180:100:0", 10000, 1000);
        r("separate scales", "0:9000000:1200", 10000000, 2000);
        r("a gap keeps the peak", "0:48000:0 1:-:- 2:100:0", 50000, 1000);
        r("a new interface starts afresh", "0:48000:48000 1:new 2:100:0", 1000, 1000);
    }
    void scaleRules() {
        QFETCH(QString, trail);
        QFETCH(double, down);
        QFETCH(double, up);
        TestPlatform env;
        qint64 now = 0;
        UsageFeature feature(nullptr, nullptr, {[&now] { return now; }, [] { return QDate(); }});
        QByteArray name = "eth0";
        for (const QString &point : trail.split(u' ')) {
            const QStringList parts = point.split(u':');
            now = parts[0].toLongLong() * 1000;
            if (parts[1] == u"new")
                name = "wlan0";
            TickSample s = sampleOf(name, parts[1].toDouble(), parts.value(2).toDouble());
            s.hasRates = parts[1] != u"-" && parts[1] != u"new";
            feature.sampled(s);
        }
        QCOMPARE(feature.trail().downScale(), down);
        QCOMPARE(feature.trail().upScale(), up);
    }

    // Axis labels in the mini window's unit and the user's locale.
    void axisText_data() {
        auto r = table<QString, double, QString>({"locale", "rate", "text"});
        r("whole, grouped", "en_US", 2000000, "2,000 k/sec");
        r("below one k/sec", "en_US", 500, "0.50 k/sec");
        r("German groups", "de_DE", 2000000, "2.000 k/sec");
        r("German decimals", "de_DE", 2500, "2,50 k/sec");
    }
    void axisText() {
        QFETCH(QString, locale);
        QFETCH(double, rate);
        QFETCH(QString, text);
        QCOMPARE(GraphScale::axisText(rate, QLocale(locale)), text);
    }

    // A monthly period runs from its reset day to the day before the next
    // one; a reset day past the end of a month means its last day.
    void periods_data() {
        auto r =
            table<bool, int, QDate, QDate, QDate>({"monthly", "reset", "today", "first", "last"});
        r("daily", false, 31, QDate(2026, 12, 7), QDate(2026, 12, 7), QDate(2026, 12, 7));
        r("1st", true, 1, QDate(2026, 12, 7), QDate(2026, 12, 1), QDate(2026, 12, 31));
        r("31st before February's end", true, 31, QDate(2026, 2, 15), QDate(2026, 1, 31),
          QDate(2026, 2, 27));
        r("31st on February's last day", true, 31, QDate(2026, 2, 28), QDate(2026, 2, 28),
          QDate(2026, 3, 30));
        r("30th in a leap February", true, 30, QDate(2028, 2, 29), QDate(2028, 2, 29),
          QDate(2028, 3, 29));
        r("29th, leap year, day before", true, 29, QDate(2028, 2, 28), QDate(2028, 1, 29),
          QDate(2028, 2, 28));
        r("29th, common year", true, 29, QDate(2027, 2, 28), QDate(2027, 2, 28),
          QDate(2027, 3, 28));
        r("reset day today", true, 7, QDate(2026, 12, 7), QDate(2026, 12, 7), QDate(2027, 1, 6));
        r("day before the reset", true, 8, QDate(2026, 12, 7), QDate(2026, 11, 8),
          QDate(2026, 12, 7));
        r("across the new year", true, 15, QDate(2027, 1, 3), QDate(2026, 12, 15),
          QDate(2027, 1, 14));
    }
    void periods() {
        QFETCH(bool, monthly);
        QFETCH(int, reset);
        QFETCH(QDate, today);
        QFETCH(QDate, first);
        QFETCH(QDate, last);
        const auto span = CapRules::periodOf(
            monthly ? CapRules::Period::Monthly : CapRules::Period::Daily, reset, today);
        QCOMPARE(span.first, first);
        QCOMPARE(span.last, last);
    }

    // Each warning once per period, also across a restart; a new period
    // warns again. The clock is the test's.
    void warningsOncePerPeriod() {
        TestPlatform env;
        env.writeSettingsFile("[General]\nAdapter=2\nDataCapEnabled=1\nDataCapAmount=1\n"
                              "DataCapResetDay=31\n");
        FakeUsageHistory history;
        QDate today(2026, 2, 10);
        const auto clock = [&today] { return today; };
        auto watcher = std::make_unique<CapWatcher>(&history, &env.tray, clock);
        const auto tick = [&] { watcher->sampled(sampleOf("eth0")); };
        const auto given = [&] { return env.tray.messages.join(u'|'); };

        history.add(QDate(2026, 1, 30), 900'000'000); // before the period
        history.add(QDate(2026, 1, 31), 400'000'000, 399'999'999);
        tick();
        QCOMPARE(given(), QString());
        history.add(today, 0, 1); // 800,000,000 bytes: 80 % of 1 GB exactly
        tick();
        tick();
        QCOMPARE(env.tray.messages.size(), 1);
        QVERIFY2(given().startsWith(u"80 % of the data cap used: 0.80 GB of 1.00 GB (80 %) "
                                    u"received and sent from "),
                 qPrintable(given()));

        watcher = std::make_unique<CapWatcher>(&history, &env.tray, clock); // a restart
        tick();
        QCOMPARE(env.tray.messages.size(), 1);
        history.add(today, 250'000'000); // 80 % and then 105 %: only 100 % is new
        tick();
        QCOMPARE(env.tray.messages.size(), 2);
        QVERIFY(env.tray.messages[1].startsWith(u"100 % of the data cap used: 1.05 GB"));

        today = QDate(2026, 2, 28); // the 31st falls on February's last day
        tick();
        QCOMPARE(env.tray.messages.size(), 2);
        history.add(today, 850'000'000);
        watcher = std::make_unique<CapWatcher>(&history, &env.tray, clock);
        tick();
        QCOMPARE(env.tray.messages.size(), 3);
        QVERIFY(env.tray.messages[2].startsWith(u"80 % of the data cap used: 0.85 GB"));

        // Only the counted direction, in the chosen unit.
        CapSettings s = watcher->settings();
        s.direction = CapRules::Direction::Sent;
        s.unit = CapRules::Unit::GiB;
        watcher->setSettings(s);
        tick();
        QCOMPARE(watcher->status().used, quint64(0));
        QCOMPARE(watcher->status().cap, quint64(1024 * 1024 * 1024));
        QCOMPARE(stored("DataCapCounts"), QStringLiteral("sent"));

        history.on = false;
        tick();
        QCOMPARE(watcher->statusText(),
                 QStringLiteral("The data cap needs the usage history, which is off."));
    }

    // Settings files from before the Usage window, and values that do not
    // read, give the defaults: off, monthly from the 1st, 80 % and 100 %.
    void oldAndBrokenSettings() {
        for (const QByteArray &file :
             {QByteArray("[General]\nAdapter=2\n"),
              QByteArray("[General]\nDataCapEnabled=yes\nDataCapResetDay=32\nDataCapAmount=-1\n"
                         "DataCapUnit=TB\nDataCapCounts=x\nDataCapWarnings=0 80\n"
                         "DataCapPeriod=weekly\nDataCapWarningsGiven=soon 80\n")}) {
            TestPlatform env;
            env.writeSettingsFile(file);
            QVERIFY(UsageSettings::readCap() == CapSettings());
            QVERIFY(!UsageSettings::readGiven().period.isValid());
        }
    }

    // The menu item opens one window, where it was left last time; its
    // live figures are the Monitor tab's; interface names stay plain text.
    void windowFromTheMenu() {
        Rig r;
        FakeUsageHistory history;
        history.name = "<b>eth0</b>";
        history.add(QDate::currentDate(), 1234567, 89);
        UsageFeature feature(&history, &r.env.tray);
        feature.attach(&r.w);
        InterfaceRow &nic = r.env.interfaces.add(2, QStringLiteral("Fast Ethernet Adapter"));
        nic.name = history.name;
        nic.inOctets = nic.outOctets = 1000;
        r.w.tmrAdapterUpdate->setInterval(1000);
        r.w.trackedAdapter = QStringLiteral("2");
        r.w.selectedAdapter = 2;
        r.w.tmrAdapterUpdate_Timer();

        r.w.mUsage->trigger();
        UsageWindow *window = feature.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("Usage"));
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

        window->move(123, 45);
        window->close();
        feature.sampled(sampleOf(history.name, 3e6)); // while hidden
        r.w.mUsage->trigger();
        QCOMPARE(feature.window(), window);
        QCOMPARE(window->graphDown->scale(), 5e6);

        // Another start: the window opens where it was, and with the history
        // off the history panes say so.
        window->move(160, 70);
        history.on = false;
        UsageFeature again(&history, &r.env.tray);
        window->close();
        again.showWindow();
        QCOMPARE(again.window()->pos(), QPoint(160, 70));
        // A place on a screen that is gone is not used.
        store("UsageWindowLeft", "-5000");
        UsageFeature third(&history, &r.env.tray);
        third.showWindow();
        QVERIFY(third.window()->pos().x() > -5000);
        for (int tab : {1, 2}) // days, months
            QCOMPARE(
                qobject_cast<QStackedWidget *>(again.window()->tabs->widget(tab))->currentIndex(),
                1);
    }
};

QTEST_MAIN(UsageWindowTest)
#include "test_usage_window.moc"
