#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QTimer>

namespace {

// One main window over fake interfaces: eth (index 2) and wlan (index 3),
// sampled every 1000 ms, with the tag start-up leaves behind.
struct TickRig : Rig {
    TickRig() {
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

    InterfaceRow &nic(qint32 index = 2) { return *env.interfaces.find(index); }
    void tick() { w.tmrAdapterUpdate_Timer(); }
    // Moves traffic through the selected interface, then ticks.
    void traffic(quint64 down, quint64 up) {
        nic(w.selectedAdapter).inOctets += down;
        nic(w.selectedAdapter).outOctets += up;
        tick();
    }
    // Adoption, then the baseline: the next tick measures.
    void startMeasuring() {
        tick();
        tick();
    }
    // Every rate and total label, in one line for comparing.
    QString valueLabels() {
        return QStringList{text("lblSentBytes"), text("lblRecvBytes"), text("lblUpBytes"),
                           text("lblDownBytes")}
            .join(QLatin1Char('|'));
    }
    void animateTray(bool autoAdjust = true, const QString &yellow = {}, const QString &red = {}) {
        env.tray.shown = w.showTrayIcon = w.animateTrayIcon = w.showBandwidthInTray = true;
        box("chkAutoAdjustThreshold")->setChecked(autoAdjust);
        edit("txtYellowThreshold")->setText(yellow);
        edit("txtRedThreshold")->setText(red);
    }
    QString trayPicture() {
        const auto &p = w.trayIcon.trayRecord().picture;
        return p ? p->name() : QStringLiteral("none");
    }
    int trayUpdates() { return env.tray.count(FakeTrayHost::Request::Update); }
    QString mini(const char *name) {
        return w.miniWindow(true)->findChild<QLabel *>(QLatin1String(name))->text();
    }
};

} // namespace

class TickTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void adoptionBaselineMeasuring() {
        TickRig r;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("2"));
        QCOMPARE(r.valueLabels(), QStringLiteral("|||"));
        r.nic().inOctets = 1234567890;
        r.nic().outOctets = 1000;
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("1,000|1,234,567,890||"));
        r.traffic(12346, 333);
        QCOMPARE(r.valueLabels(), QStringLiteral("1,333|1,234,580,236|333|12,346"));
        // One row query a tick, never the whole table.
        QCOMPARE(r.env.interfaces.rowQueries, 3);
        QCOMPARE(r.env.interfaces.tableQueries, 0);
    }

    void noAdapterSelected() {
        TickRig r;
        r.w.selectedAdapter = 0;
        r.label("lblSentBytes")->setText(QStringLiteral("7"));
        for (int i = 0; i < 3; ++i)
            r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("No adapter selected"));
        QCOMPARE(r.valueLabels(), QStringLiteral("7|||"));
        QCOMPARE(r.env.interfaces.rowQueries, 0);
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("0"));
    }

    void startupMinimise_data() {
        columns<bool, qint32>({"checked", "adapter"});
        row("checked, adapter", true, 2);
        row("checked, no adapter", true, 0);
        row("unchecked", false, 2);
    }
    void startupMinimise() {
        QFETCH(bool, checked);
        QFETCH(qint32, adapter);
        TickRig r;
        r.w.selectedAdapter = adapter;
        r.box("chkStartupMinimized")->setChecked(checked);
        r.tick();
        QCOMPARE(r.w.isMinimized(), checked);
        r.w.setWindowState(Qt::WindowNoState); // only the first tick minimises
        r.tick();
        QVERIFY(!r.w.isMinimized());
    }

    void rateLabels_data() {
        columns<int, quint64, QString>({"interval", "difference", "rate"});
        row("short interval", 500, quint64(1000), "2,000");
        row("long interval", 3000, quint64(1000), "333");
    }
    void rateLabels() {
        QFETCH(int, interval);
        QFETCH(quint64, difference);
        TickRig r;
        r.startMeasuring();
        r.w.tmrAdapterUpdate->setInterval(interval); // read afresh every tick
        r.traffic(difference, difference);
        QTEST(r.text("lblDownBytes"), "rate");
        QTEST(r.text("lblUpBytes"), "rate");
    }

    // The interface vanishes for a tick: no label changes, and the next good
    // read is a fresh baseline (it spans two intervals, or comes from a link
    // made anew under the same index), so the rates stay until the tick after.
    void failedQuery() {
        TickRig r;
        r.startMeasuring();
        r.traffic(4000, 3000);
        const QString before = r.valueLabels();
        const InterfaceRow saved = r.nic();
        r.env.interfaces.rows.erase(r.env.interfaces.rows.begin());
        r.tick();
        QCOMPARE(r.valueLabels(), before);
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));

        InterfaceRow &back = r.env.interfaces.add(2, saved.description);
        back.inOctets = saved.inOctets + 2000;
        back.outOctets = saved.outOctets + 1000;
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("504,000|1,006,000|3,000|4,000"));
        r.traffic(500, 700);
        QCOMPARE(r.valueLabels(), QStringLiteral("504,700|1,006,500|700|500"));

        r.w.selectedAdapter = 9; // a failed query adopts nothing
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("2"));
    }

    // A fault halfway (here a zero interval at the rates) keeps what was
    // written before it and leaves the previous totals alone.
    void faultKeepsEarlierWrites() {
        TickRig r;
        r.animateTray();
        r.startMeasuring();
        r.traffic(4000, 3000);
        const int updates = r.trayUpdates();
        r.w.tmrAdapterUpdate->setInterval(0);
        r.traffic(5000, 5000);
        QCOMPARE(r.valueLabels(), QStringLiteral("508,000|1,009,000|3,000|4,000"));
        QCOMPARE(r.w.sampler.prevRecvTotal, qint64(1004000));
        QCOMPARE(r.trayUpdates(), updates);

        r.w.tmrAdapterUpdate->setInterval(1000);
        r.traffic(1000, 1000);
        QCOMPARE(r.valueLabels(), QStringLiteral("509,000|1,010,000|6,000|6,000"));
    }

    // 64-bit counters do not wrap: a fall is a reset and takes a new baseline.
    // Here only the received counter is reset; the sent side goes on measuring.
    void counterReset() {
        TickRig r;
        r.animateTray(false, QStringLiteral("10"), QStringLiteral("50"));
        r.startMeasuring();
        r.traffic(4000, 3000);
        r.nic().inOctets = 100;
        r.nic().outOctets += 3000;
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("506,000|100|3,000|4,000"));
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));
        // The reset side moved nothing we know of: idle, not a negative rate.
        QCOMPARE(r.trayPicture(), QStringLiteral("picGreenNone"));
        r.traffic(1000, 2000);
        QCOMPARE(r.valueLabels(), QStringLiteral("508,000|1,100|2,000|1,000"));
    }

    void wrap32() {
        TickRig r;
        r.nic().counterBits = 32;
        r.tick();
        r.nic().inOctets = 4294967000u;
        r.nic().outOctets = 3000000000u;
        r.tick();
        QCOMPARE(r.text("lblSentBytes"), QStringLiteral("3,000,000,000"));
        r.nic().inOctets = 200;
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("3,000,000,000|4,294,967,496|0|496"));
        QCOMPARE(r.w.sampler.recvWraps, qint64(1));
        r.traffic(1000, 0);
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("4,294,968,496"));
        QCOMPARE(r.text("lblDownBytes"), QStringLiteral("1,000"));
        QCOMPARE(r.w.sampler.recvWraps, qint64(1));

        // A newly adopted interface starts without the old one's wraps; the
        // labels keep the old values until its baseline.
        r.nic(3).counterBits = 32;
        r.w.selectedAdapter = 3;
        const QString before = r.valueLabels();
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Wireless Adapter"));
        QCOMPARE(r.valueLabels(), before);
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("7,000|5,000|0|1,000"));
        r.traffic(1000, 2000);
        QCOMPARE(r.valueLabels(), QStringLiteral("9,000|6,000|2,000|1,000"));
    }

    // The mini window shows the rounded labels in k/s, only while visible;
    // under German rules the labels, the mini window and the tip follow.
    void miniWindowAndLocale_data() {
        columns<bool, QString, QString, QString>({"german", "recv", "down", "tip"});
        row("English", false, "1,234,580,236", "12.35",
            "Bandwidth - Down: 12.35 k/sec - Up: 1.50 k/sec");
        row("German", true, "1.234.580.236", "12,35",
            "Bandwidth - Down: 12,35 k/sec - Up: 1,50 k/sec");
    }
    void miniWindowAndLocale() {
        QFETCH(bool, german);
        if (german)
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TickRig r;
        r.animateTray();
        frmMiniBandwidth *mini = r.w.miniWindow(true);
        mini->show();
        r.tick();
        r.nic().inOctets = 1234567890;
        r.tick();
        QCOMPARE(r.mini("lblMiniUp"), QString()); // no rates yet
        r.traffic(12346, 1500);
        QTEST(r.text("lblRecvBytes"), "recv");
        QTEST(r.mini("lblMiniDown"), "down");
        QTEST(r.env.tray.tip, "tip");

        mini->hide();
        r.traffic(5000, 5000);
        QTEST(r.mini("lblMiniDown"), "down");
        mini->show();
        r.traffic(2500, 2500);
        QCOMPARE(r.mini("lblMiniDown"), german ? QStringLiteral("2,50") : QStringLiteral("2.50"));
    }

    void trayStep_data() {
        columns<bool, QString, QString, int, quint64, quint64, QString, QString, QString>(
            {"autoAdjust", "yellow", "red", "interval", "up", "down", "picture", "yellowAfter",
             "redAfter"});
        const auto r = [](const char *name, bool autoAdjust, const char *yellow, const char *red,
                          int interval, quint64 up, quint64 down, const char *picture,
                          const char *yellowAfter, const char *redAfter) {
            row(name, autoAdjust, yellow, red, interval, up, down, picture, yellowAfter, redAfter);
        };
        r("exactly red", false, "10", "50", 1000, 50000, 9999, "picRedGreen", "10", "50");
        r("upload idle", false, "10", "50", 1000, 0, 12000, "picNoneYellow", "10", "50");
        r("raised", true, "1.00", "2.00", 1000, 1500, 6000, "picGreenRed", "2.00", "4.00");
        r("never lowered", true, "100", "200", 1000, 1500, 6000, "picGreenGreen", "100", "200");
        r("empty filled in", true, "", "", 1000, 1500, 6000, "picGreenRed", "2.00", "4.00");
        r("top rate 0 leaves empty", true, "", "50", 60000, 0, 20, "picNoneNone", "", "50");
        r("letters", true, "abc", "50", 1000, 50000, 50000, "picNoneNone", "abc", "50");
        r("fast link", true, "10", "20", 300, 0, 3000000, "picNoneRed", "3333.33", "6666.67");
        r("red below yellow", false, "10", "5", 1000, 7000, 0, "picRedNone", "10", "5");
    }
    void trayStep() {
        QFETCH(bool, autoAdjust);
        QFETCH(QString, yellow);
        QFETCH(QString, red);
        QFETCH(int, interval);
        QFETCH(quint64, up);
        QFETCH(quint64, down);
        TickRig r;
        r.animateTray(autoAdjust, yellow, red);
        r.startMeasuring();
        // The baseline is quiet: idle picture, thresholds untouched.
        QCOMPARE(r.trayPicture(), QStringLiteral("picNoneNone"));
        QCOMPARE(r.edit("txtYellowThreshold")->text(), yellow);

        r.w.tmrAdapterUpdate->setInterval(interval);
        r.traffic(down, up);
        QTEST(r.trayPicture(), "picture");
        QTEST(r.edit("txtYellowThreshold")->text(), "yellowAfter");
        QTEST(r.edit("txtRedThreshold")->text(), "redAfter");
        // Raised thresholds are stored through the boxes' handlers.
        QTEST(stored(QStringLiteral("RedThreshold")), "redAfter");
        // The tip moved to the rates, so the icon was told even when the
        // thresholds left it idle.
        QCOMPARE(r.env.tray.requests.back().kind, FakeTrayHost::Request::Update);
        QVERIFY(r.env.tray.tip.startsWith(QLatin1String("Bandwidth - Down: ")));
    }

    void steadyLoadSendsNothing() {
        TickRig r;
        r.animateTray(true, QStringLiteral("1.00"), QStringLiteral("2.00"));
        r.startMeasuring();
        r.traffic(6000, 1500);
        const int updates = r.trayUpdates();
        QSignalSpy rewrites(r.edit("txtRedThreshold"), &QLineEdit::textChanged);
        for (int i = 0; i < 10; ++i)
            r.traffic(6000, 1500);
        QCOMPARE(r.trayUpdates(), updates);
        QCOMPARE(rewrites.count(), 0);
        r.traffic(60000, 1500); // the load changes: told once
        QCOMPARE(r.trayUpdates(), updates + 1);
    }

    void trayLeftAlone_data() {
        columns<bool, bool>({"show", "animate"});
        row("not animated", true, false);
        row("not shown", false, true);
    }
    void trayLeftAlone() {
        TickRig r;
        r.animateTray();
        QFETCH(bool, show);
        QFETCH(bool, animate);
        r.w.showTrayIcon = show;
        r.w.animateTrayIcon = animate;
        r.startMeasuring();
        r.traffic(600000, 600000);
        QVERIFY(r.env.tray.requests.empty());
        QVERIFY(!r.w.sampler.lastTrayPicture);
        QCOMPARE(r.edit("txtYellowThreshold")->text(), QString());
    }
};

QTEST_MAIN(TickTest)
#include "test_tick.moc"
