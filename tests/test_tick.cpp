#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QTimer>

// What the sampling tick makes of the arithmetic test_rates checks.
namespace {

// eth (index 2), sampled every 1000 ms on a fake clock, not yet adopted.
struct TickRig : Rig {
    FakeClock clock;
    TickRig() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        w.platform.clock = &clock;
        InterfaceRow &eth = env.interfaces.add(2, QStringLiteral("Fast Ethernet Adapter"));
        eth.inOctets = 1000000;
        eth.outOctets = 500000;
        w.tmrAdapterUpdate->setInterval(1000);
        w.trackedAdapter = QStringLiteral("0");
        w.selectedAdapter = 2;
    }
    InterfaceRow &nic() { return *env.interfaces.find(w.selectedAdapter); }
    void tick(double afterMs = 1000) {
        clock.advanceMs(afterMs);
        w.tmrAdapterUpdate_Timer();
    }
    void traffic(quint64 down, quint64 up, double afterMs = 1000) {
        nic().inOctets += down;
        nic().outOctets += up;
        tick(afterMs);
    }
    void startMeasuring() {
        tick();
        tick();
    }
    // Sent and received totals, up and down rates.
    QString labels() {
        return QStringList{text("lblSentBytes"), text("lblRecvBytes"), text("lblUpBytes"),
                           text("lblDownBytes")}
            .join(u'|');
    }
    void animateTray(bool autoAdjust = false, const QString &yellow = "10",
                     const QString &red = "50") {
        env.tray.shown = w.showTrayIcon = w.animateTrayIcon = w.showBandwidthInTray = true;
        box("chkAutoAdjustThreshold")->setChecked(autoAdjust);
        edit("txtYellowThreshold")->setText(yellow);
        edit("txtRedThreshold")->setText(red);
    }
    QString picture() {
        const auto &p = w.trayIcon.trayRecord().picture;
        return p ? p->name() : QStringLiteral("none");
    }
    int updates() { return env.tray.count(FakeTrayHost::Request::Update); }
    QString mini(const char *name) {
        return w.miniWindow(true)->findChild<QLabel *>(QLatin1String(name))->text();
    }
};

} // namespace

class TickTest : public QObject {
    Q_OBJECT
private slots:
    // Adoption, the baseline, then rates over the time that really passed, in
    // the user's number format; the mini window repeats them only while shown.
    void adoptionBaselineMeasuring() {
        TickRig r;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        r.animateTray();
        frmMiniBandwidth *mini = r.w.miniWindow(true);
        mini->show();
        r.tick();
        QVERIFY(!r.w.isMinimized());
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.labels(), QStringLiteral("|||"));
        r.nic().inOctets = 1234567890;
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("500.000|1.234.567.890||"));
        QCOMPARE(r.mini("lblMiniUp"), QString());
        r.traffic(12346, 333, 500); // early: the time that passed counts
        QCOMPARE(r.labels(), QStringLiteral("500.333|1.234.580.236|666|24.692"));
        QCOMPARE(r.mini("lblMiniDown") + ' ' + r.mini("lblMiniUp"), QStringLiteral("24,69 0,67"));
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 24,69 k/sec - Up: 0,67 k/sec"));
        QCOMPARE(r.env.interfaces.rowQueries, 3); // one row a tick, never the whole table
        QCOMPARE(r.env.interfaces.tableQueries, 0);
        mini->hide();
        r.traffic(5000, 5000);
        QCOMPARE(r.mini("lblMiniDown"), QStringLiteral("24,69"));
    }

    // Only the first tick minimises, also with no adapter, where nothing is read.
    void startupMinimiseWithoutAdapter() {
        TickRig r;
        r.w.selectedAdapter = 0;
        r.box("chkStartupMinimized")->setChecked(true);
        r.tick();
        QVERIFY(r.w.isMinimized());
        r.w.setWindowState(Qt::WindowNoState);
        r.tick();
        QVERIFY(!r.w.isMinimized());
        QCOMPARE(r.text("lblAdapterName") + r.labels(), QStringLiteral("No adapter selected|||"));
        QCOMPARE(r.env.interfaces.rowQueries, 0);
    }

    // An unreadable interface measures nothing (zeros would count a phantom wrap);
    // the next good read is a baseline. A newly adopted one starts without the old
    // wraps, keeps the old labels until its baseline, and reads a counter at 0 as
    // 0; unreadable, it is adopted under its details page's name.
    void switchingAndLosingInterfaces() {
        TickRig r;
        r.animateTray();
        r.w.miniWindow(true)->show();
        r.nic().counterBits = 32;
        r.nic().inOctets = 4294967000u;
        r.startMeasuring();
        r.nic().inOctets = 200;
        r.traffic(0, 3000);
        QCOMPARE(r.labels(), QStringLiteral("503,000|4,294,967,496|3,000|496"));
        const InterfaceRow saved = r.nic();
        r.env.interfaces.rows.clear();
        r.tick();
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("503,000|4,294,967,496||"));
        QCOMPARE(r.mini("lblMiniUp") + r.mini("lblMiniDown"), QString());
        QCOMPARE(r.env.tray.tip + ' ' + r.picture(), QStringLiteral("Zarn Bandwidth picNoneNone"));
        r.env.interfaces.rows.push_back(saved);
        r.traffic(2000, 1000);
        QCOMPARE(r.labels(), QStringLiteral("504,000|4,294,969,496||"));
        r.traffic(500, 700);
        const QString before = r.labels();
        QCOMPARE(before, QStringLiteral("504,700|4,294,969,996|700|500"));
        r.env.interfaces.add(4, QStringLiteral("tun0")).counterBits = 32;
        r.w.selectedAdapter = 4;
        r.tick();
        QCOMPARE(r.labels(), before);
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("0|0|700|500"));
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("0|0|0|0"));
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 0.00 k/sec - Up: 0.00 k/sec"));
        QCOMPARE(r.picture(), QStringLiteral("picNoneNone"));
        r.label("lblInfoAdapterName")->setText(QStringLiteral("Gone Adapter"));
        r.w.selectedAdapter = 9;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Gone Adapter"));
        QCOMPARE(r.labels(), QStringLiteral("|||"));
    }

    // A fault halfway (an overflow) keeps what was written and the previous
    // totals; a falling 64-bit counter was reset and that side is idle until its
    // new baseline; a long gap gives no rate and leaves the thresholds alone.
    void breaksInTheSeries() {
        TickRig r;
        r.animateTray(true);
        r.startMeasuring();
        r.traffic(4000, 3000);
        const quint64 sentBefore = r.nic().outOctets;
        r.traffic(5000, quint64(1) << 62);
        QCOMPARE(r.labels(), QStringLiteral("4,611,686,018,427,890,904|1,009,000|3,000|5,000"));
        r.nic().outOctets = sentBefore + 2000;
        r.traffic(1000, 0);
        QCOMPARE(r.labels(), QStringLiteral("505,000|1,010,000|1,000|3,000"));
        r.nic().inOctets = 100;
        r.traffic(0, 4000);
        QCOMPARE(r.labels(), QStringLiteral("509,000|100|4,000|3,000"));
        QCOMPARE(r.picture(), QStringLiteral("picGreenNone"));
        r.traffic(1000, 2000);
        QCOMPARE(r.labels(), QStringLiteral("511,000|1,100|2,000|1,000"));
        QSignalSpy samples(&r.w, &frmMain::sampled);
        r.traffic(600000, 600000, 6000);
        QCOMPARE(r.labels(), QStringLiteral("1,111,000|601,100|2,000|1,000"));
        QCOMPARE(r.edit("txtYellowThreshold")->text(), QStringLiteral("10"));
        QVERIFY(!samples.at(0).at(0).value<TickSample>().hasRates);
        r.traffic(2000, 2000);
        QCOMPARE(r.text("lblDownBytes"), QStringLiteral("2,000"));
    }

    // Thresholds, load levels and the picture the tray gets.
    void trayStep_data() {
        const auto r =
            table<bool, QString, QString, int, quint64, quint64, QString, QString, QString>(
                {"autoAdjust", "yellow", "red", "interval", "up", "down", "picture", "yellowAfter",
                 "redAfter"});
        r("exactly red", false, "10", "50", 1000, 50000, 9999, "picRedGreen", "10", "50");
        r("upload idle", false, "10", "50", 1000, 0, 12000, "picNoneYellow", "10", "50");
        r("raised", true, "1.00", "2.00", 1000, 1500, 6000, "picGreenRed", "2.00", "4.00");
        r("never lowered", true, "100", "200", 1000, 1500, 6000, "picGreenGreen", "100", "200");
        r("empty filled in", true, "", "", 1000, 1500, 6000, "picGreenRed", "2.00", "4.00");
        r("top rate 0 leaves empty", true, "", "50", 60000, 0, 20, "picNoneNone", "", "50");
        r("letters", true, "abc", "50", 1000, 50000, 50000, "picNoneNone", "abc", "50");
        r("fast link", true, "10", "20", 300, 0, 3000000, "picNoneRed", "3333.33", "6666.67");
        r("red below yellow", false, "10", "5", 1000, 7000, 0, "picRedNone", "10", "5");
        r("idle at a red of 0.00", false, "0.00", "0.00", 1000, 0, 5000, "picNoneRed", "0.00",
          "0.00");
    }
    void trayStep() {
        TickRig r;
        const int interval = cell<int>("interval");
        r.animateTray(cell<bool>("autoAdjust"), cell<QString>("yellow"), cell<QString>("red"));
        r.w.tmrAdapterUpdate->setInterval(interval);
        r.tick(interval);
        r.tick(interval);
        r.traffic(cell<quint64>("down"), cell<quint64>("up"), interval);
        QTEST(r.picture(), "picture");
        QTEST(r.edit("txtYellowThreshold")->text(), "yellowAfter");
        QTEST(r.edit("txtRedThreshold")->text(), "redAfter");
        // The tip moved to the rates even where the thresholds left the icon idle.
        QVERIFY(r.env.tray.tip.startsWith(QLatin1String("Bandwidth - Down: ")));
    }

    // A steady load tells the tray nothing. With either tray option off the tick leaves
    // tray and thresholds alone; back on, the idle picture shows until the next tick.
    void trayToldOnlyOfChanges() {
        for (const char *name : {"chkAnimateTrayIcon", "chkShowTrayIcon"}) {
            TickRig r;
            r.animateTray(true, "", "");
            r.startMeasuring();
            r.traffic(900000, 900000);
            const int updates = r.updates();
            r.traffic(900000, 900000);
            QCOMPARE(r.updates(), updates);
            r.box(name)->setChecked(false);
            const auto requests = r.env.tray.requests.size();
            r.traffic(1800000, 1800000);
            QCOMPARE(r.env.tray.requests.size(), requests);
            QCOMPARE(r.edit("txtYellowThreshold")->text(), QStringLiteral("300.00"));
            r.box(name)->setChecked(true);
            QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
            r.traffic(900000, 900000);
            QCOMPARE(r.picture(), QStringLiteral("picRedRed"));
        }
    }
};

QTEST_MAIN(TickTest)
#include "test_tick.moc"
