#include "monitor/RateText.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QTimer>

// The sampling tick of the main window over fake interfaces and a fake
// clock. The arithmetic itself is test_rates'; here, what the tick makes of
// it: adoption, baselines, breaks in the series, the labels, the mini window
// and the tray.
namespace {

// eth (index 2) and wlan (index 3), sampled every 1000 ms, with the tag
// start-up leaves behind. Ticks come on time unless a test says how late.
struct TickRig : Rig {
    FakeClock clock;
    TickRig() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        w.platform.clock = &clock;
        InterfaceRow &eth = env.interfaces.add(2, QStringLiteral("Fast Ethernet Adapter"));
        eth.inOctets = 1000000;
        eth.outOctets = 500000;
        InterfaceRow &wlan = env.interfaces.add(3, QStringLiteral("Wireless Adapter"));
        wlan.inOctets = 5000;
        wlan.outOctets = 7000;
        w.tmrAdapterUpdate->setInterval(1000);
        w.trackedAdapter = QStringLiteral("0");
        w.selectedAdapter = 2;
    }
    InterfaceRow &nic() { return *env.interfaces.find(w.selectedAdapter); }
    void tick(double afterMs = 1000) {
        clock.advanceMs(afterMs);
        w.tmrAdapterUpdate_Timer();
    }
    // Moves traffic through the selected interface, then ticks.
    void traffic(quint64 down, quint64 up, double afterMs = 1000) {
        nic().inOctets += down;
        nic().outOctets += up;
        tick(afterMs);
    }
    // Adoption, then the baseline: the next tick measures.
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
    void adoptionBaselineMeasuring() {
        TickRig r;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("2"));
        QCOMPARE(r.labels(), QStringLiteral("|||"));
        r.nic().inOctets = 1234567890;
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("500,000|1,234,567,890||"));
        r.traffic(12346, 333, 500); // early: the time that passed counts
        QCOMPARE(r.labels(), QStringLiteral("500,333|1,234,580,236|666|24,692"));
        // One row query a tick, never the whole table.
        QCOMPARE(r.env.interfaces.rowQueries, 3);
        QCOMPARE(r.env.interfaces.tableQueries, 0);
    }

    // Only the first tick minimises, adapter or not; with none, nothing is read.
    void startupMinimise_data() {
        const auto r = table<bool, qint32>({"checked", "adapter"});
        r("checked, adapter", true, 2);
        r("checked, no adapter", true, 0);
        r("unchecked", false, 2);
    }
    void startupMinimise() {
        TickRig r;
        r.w.selectedAdapter = cell<qint32>("adapter");
        r.box("chkStartupMinimized")->setChecked(cell<bool>("checked"));
        r.tick();
        QTEST(r.w.isMinimized(), "checked");
        r.w.setWindowState(Qt::WindowNoState);
        r.tick();
        QVERIFY(!r.w.isMinimized());
        if (!r.w.selectedAdapter)
            QCOMPARE(r.text("lblAdapterName") + r.labels() +
                         QString::number(r.env.interfaces.rowQueries),
                     QStringLiteral("No adapter selected|||0"));
    }

    // A long gap breaks the series: no rate, thresholds left alone, and the
    // tick becomes the baseline the next one measures from. The adoption
    // tick reads no time to measure from, so a gap right after it only
    // leads to the baseline as well.
    void gapTakesABaseline_data() {
        const auto r = table<bool>({"afterAdoption"});
        r("while measuring", false);
        r("right after adoption", true);
    }
    void gapTakesABaseline() {
        TickRig r;
        r.animateTray(true, "1.00", "2.00");
        r.tick();
        if (!cell<bool>("afterAdoption"))
            r.traffic(0, 0);
        QSignalSpy samples(&r.w, &frmMain::sampled);
        r.traffic(600000, 600000, 6000);
        QCOMPARE(r.text("lblDownBytes"), QString());
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("1,600,000"));
        QCOMPARE(r.edit("txtYellowThreshold")->text(), QStringLiteral("1.00"));
        QVERIFY(!samples.at(0).at(0).value<TickSample>().hasRates);
        r.traffic(2000, 2000);
        QCOMPARE(r.text("lblDownBytes"), QStringLiteral("2,000"));
        QCOMPARE(samples.at(1).at(0).value<TickSample>().downRate, 2000.0);
    }

    // The interface vanishes: the totals stay, but nothing is measured, and
    // the labels, the mini window and the tray say so. The next good read is
    // a fresh baseline, so rates come back the tick after.
    void failedQuery() {
        TickRig r;
        r.animateTray();
        r.w.miniWindow(true)->show();
        r.startMeasuring();
        r.traffic(900000, 900000);
        const InterfaceRow saved = r.nic();
        r.env.interfaces.rows.erase(r.env.interfaces.rows.begin());
        const int updates = r.updates();
        r.tick();
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("1,400,000|1,900,000||"));
        QCOMPARE(r.mini("lblMiniUp") + r.mini("lblMiniDown"), QString());
        QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
        QCOMPARE(r.picture(), QStringLiteral("picNoneNone"));
        QCOMPARE(r.updates(), updates + 1);
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));
        r.env.interfaces.add(2, saved.description).inOctets = saved.inOctets + 2000;
        r.nic().outOctets = saved.outOctets + 1000;
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("1,401,000|1,902,000||"));
        r.traffic(500, 700);
        QCOMPARE(r.labels(), QStringLiteral("1,401,700|1,902,500|700|500"));
        // A newly selected interface that cannot be read is adopted all the
        // same, under the name its details page found.
        r.label("lblInfoAdapterName")->setText(QStringLiteral("Gone Adapter"));
        r.w.selectedAdapter = 9;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Gone Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("9"));
        QCOMPARE(r.labels(), QStringLiteral("|||"));
    }

    // A counter that reads 0 is a reading like any other: a link that never
    // moved shows rates of 0 instead of the previous interface's.
    void counterAtZero() {
        TickRig r;
        r.animateTray();
        r.startMeasuring();
        r.traffic(200000, 900000);
        r.env.interfaces.add(4, QStringLiteral("tun0"));
        r.w.selectedAdapter = 4;
        for (int i = 0; i < 3; ++i)
            r.tick();
        QCOMPARE(r.labels(), QStringLiteral("0|0|0|0"));
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 0.00 k/sec - Up: 0.00 k/sec"));
        QCOMPARE(r.picture(), QStringLiteral("picNoneNone"));
    }

    // A fault halfway (here the upload rate's product overflows) keeps what
    // was written before it and leaves the previous totals alone: the next
    // tick measures from the last completed one, over the time since then.
    void faultKeepsEarlierWrites() {
        TickRig r;
        r.animateTray(true);
        r.startMeasuring();
        r.traffic(4000, 3000);
        const int updates = r.updates();
        const quint64 sentBefore = r.nic().outOctets;
        r.traffic(5000, quint64(1) << 62);
        QCOMPARE(r.labels(), RateText::wholeNumber(qint64(sentBefore + (quint64(1) << 62))) +
                                 QStringLiteral("|1,009,000|3,000|5,000"));
        QCOMPARE(r.updates(), updates);
        r.nic().outOctets = sentBefore + 2000;
        r.traffic(1000, 0);
        QCOMPARE(r.labels(), QStringLiteral("505,000|1,010,000|1,000|3,000"));
    }

    // A 64-bit counter that falls was reset and takes a new baseline; the
    // other side goes on measuring, and the reset side counts as idle.
    void counterReset() {
        TickRig r;
        r.animateTray();
        r.startMeasuring();
        r.nic().inOctets = 100;
        r.traffic(0, 3000);
        QCOMPARE(r.labels(), QStringLiteral("503,000|100|3,000|"));
        QCOMPARE(r.picture(), QStringLiteral("picGreenNone"));
        r.traffic(1000, 2000);
        QCOMPARE(r.labels(), QStringLiteral("505,000|1,100|2,000|1,000"));
    }

    // 32-bit counters wrap; a newly adopted interface starts without the
    // old one's wraps, and the labels keep the old values until its baseline.
    void wrapsStayWithTheirInterface() {
        TickRig r;
        r.nic().counterBits = 32;
        r.nic().inOctets = 4294967000u;
        r.startMeasuring();
        r.nic().inOctets = 200;
        r.tick();
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("4,294,967,496"));
        QCOMPARE(r.w.sampler.recvWraps, qint64(1));
        r.w.selectedAdapter = 3;
        const QString before = r.labels();
        r.tick();
        QCOMPARE(r.labels(), before);
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("7,000|5,000|0|496"));
    }

    // The mini window shows the rounded rates in k/s, only while visible;
    // under German rules the labels, the mini window and the tip follow.
    void miniWindowAndLocale() {
        TickRig r;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        r.animateTray();
        frmMiniBandwidth *mini = r.w.miniWindow(true);
        mini->show();
        r.tick();
        r.nic().inOctets = 1234567890;
        r.tick();
        QCOMPARE(r.mini("lblMiniUp"), QString()); // no rates yet
        r.traffic(12346, 1500);
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("1.234.580.236"));
        QCOMPARE(r.mini("lblMiniDown"), QStringLiteral("12,35"));
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 12,35 k/sec - Up: 1,50 k/sec"));
        mini->hide();
        r.traffic(5000, 5000);
        QCOMPARE(r.mini("lblMiniDown"), QStringLiteral("12,35"));
        mini->show();
        r.traffic(2500, 2500);
        QCOMPARE(r.mini("lblMiniDown"), QStringLiteral("2,50"));
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
        r("idle direction at a red of 0.00", false, "0.00", "0.00", 1000, 0, 5000, "picNoneRed",
          "0.00", "0.00");
    }
    void trayStep() {
        TickRig r;
        const int interval = cell<int>("interval");
        r.animateTray(cell<bool>("autoAdjust"), cell<QString>("yellow"), cell<QString>("red"));
        r.w.tmrAdapterUpdate->setInterval(interval);
        r.tick(interval);
        r.tick(interval);
        QCOMPARE(r.picture(), QStringLiteral("picNoneNone")); // the quiet baseline
        r.traffic(cell<quint64>("down"), cell<quint64>("up"), interval);
        QTEST(r.picture(), "picture");
        QTEST(r.edit("txtYellowThreshold")->text(), "yellowAfter");
        QTEST(stored(QStringLiteral("RedThreshold")), "redAfter"); // through the box's handler
        QTEST(r.edit("txtRedThreshold")->text(), "redAfter");
        // The tip moved to the rates, so the icon was told even when the
        // thresholds left it idle.
        QVERIFY(r.env.tray.tip.startsWith(QLatin1String("Bandwidth - Down: ")));
    }

    // A steady load tells the tray nothing; switching either tray option off
    // and on puts up the idle picture, and the next tick must send its own
    // again under the same load.
    void trayToldOnlyOfChanges_data() {
        const auto r = table<QString>({"box"});
        r("animate", "chkAnimateTrayIcon");
        r("show", "chkShowTrayIcon");
    }
    void trayToldOnlyOfChanges() {
        TickRig r;
        r.animateTray();
        r.startMeasuring();
        r.traffic(900000, 900000);
        const QString tip = r.env.tray.tip;
        const int updates = r.updates();
        r.traffic(900000, 900000);
        QCOMPARE(r.updates(), updates);
        QCheckBox *box = r.box(qPrintable(cell<QString>("box")));
        box->setChecked(false);
        box->setChecked(true);
        QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
        r.traffic(900000, 900000);
        QCOMPARE(r.env.tray.tip, tip);
        QCOMPARE(r.picture(), QStringLiteral("picRedRed"));
    }

    void trayLeftAlone_data() {
        const auto r = table<bool, bool>({"show", "animate"});
        r("not animated", true, false);
        r("not shown", false, true);
    }
    void trayLeftAlone() {
        TickRig r;
        r.animateTray(true, "", "");
        r.w.showTrayIcon = cell<bool>("show");
        r.w.animateTrayIcon = cell<bool>("animate");
        r.startMeasuring();
        r.traffic(600000, 600000);
        QVERIFY(r.env.tray.requests.empty());
        QCOMPARE(r.edit("txtYellowThreshold")->text(), QString());
    }
};

QTEST_MAIN(TickTest)
#include "test_tick.moc"
