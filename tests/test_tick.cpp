#include "monitor/Sampler.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {

// One main window over fake interfaces: eth (index 2) and wlan (index 3),
// sampled every 1000 ms, with the tag start-up leaves behind.
struct Rig {
    TestPlatform env;
    frmMain w{env.platform()};

    Rig() {
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

    QLabel *label(const char *name) { return w.findChild<QLabel *>(QLatin1String(name)); }
    QString text(const char *name) { return label(name)->text(); }
    QLineEdit *box(const char *name) { return w.findChild<QLineEdit *>(QLatin1String(name)); }

    // What every rate and total label shows, in one line for comparing.
    QString valueLabels() {
        return QStringList{text("lblSentBytes"), text("lblRecvBytes"), text("lblUpBytes"),
                           text("lblDownBytes")}
            .join(QLatin1Char('|'));
    }

    void animateTray() {
        env.tray.shown = true;
        w.showTrayIcon = true;
        w.animateTrayIcon = true;
        w.showBandwidthInTray = true;
    }
    QString trayPicture() {
        const auto &p = w.trayIcon.trayRecord().picture;
        return p ? p->name() : QStringLiteral("none");
    }
    int trayUpdates() { return env.tray.count(FakeTrayHost::Request::Update); }
};

QString miniText(frmMiniBandwidth *mini, const char *name) {
    return mini->findChild<QLabel *>(QLatin1String(name))->text();
}

} // namespace

class TickTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void adoptionBaselineMeasuring() {
        Rig r;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("2"));
        QCOMPARE(r.valueLabels(), QStringLiteral("|||"));
        QCOMPARE(r.env.interfaces.rowQueries, 1);

        r.nic().inOctets = 1234567890;
        r.nic().outOctets = 1000;
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("1,000|1,234,567,890||"));

        r.traffic(12346, 333);
        QCOMPARE(r.valueLabels(), QStringLiteral("1,333|1,234,580,236|333|12,346"));
        QCOMPARE(r.env.interfaces.rowQueries, 3);
        QCOMPARE(r.env.interfaces.tableQueries, 0);
    }

    void noAdapterSelected() {
        Rig r;
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
        QTest::addColumn<bool>("checked");
        QTest::addColumn<qint32>("adapter");
        QTest::newRow("checked, adapter") << true << 2;
        QTest::newRow("checked, no adapter") << true << 0;
        QTest::newRow("unchecked") << false << 2;
    }
    void startupMinimise() {
        QFETCH(bool, checked);
        QFETCH(qint32, adapter);
        Rig r;
        r.w.selectedAdapter = adapter;
        r.w.findChild<QCheckBox *>(QStringLiteral("chkStartupMinimized"))->setChecked(checked);
        r.tick();
        QCOMPARE(r.w.isMinimized(), checked);
        // Only the first tick minimises.
        r.w.setWindowState(Qt::WindowNoState);
        r.tick();
        QVERIFY(!r.w.isMinimized());
    }

    void rateLabels_data() {
        QTest::addColumn<int>("interval");
        QTest::addColumn<quint64>("difference");
        QTest::addColumn<QString>("rate");
        QTest::newRow("short interval") << 500 << quint64(1000) << "2,000";
        QTest::newRow("long interval") << 3000 << quint64(1000) << "333";
        QTest::newRow("half shows rounded up") << 2000 << quint64(5) << "3";
        QTest::newRow("no traffic") << 1000 << quint64(0) << "0";
    }
    void rateLabels() {
        QFETCH(int, interval);
        QFETCH(quint64, difference);
        Rig r;
        r.startMeasuring();
        r.w.tmrAdapterUpdate->setInterval(interval);
        r.traffic(difference, difference);
        QTEST(r.text("lblDownBytes"), "rate");
        QTEST(r.text("lblUpBytes"), "rate");
    }

    // The interface vanishes for a tick: no label changes, and the next good
    // read is a fresh baseline (it spans two intervals, or comes from a link
    // made anew under the same index), so the rates stay until the tick after.
    void failedQuery() {
        Rig r;
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
    }

    void failedQueryOnAdoption() {
        Rig r;
        r.startMeasuring();
        r.w.selectedAdapter = 9;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("2"));
    }

    // A fault halfway (here a zero interval at the rates) keeps what was
    // written before it and leaves the previous totals alone.
    void faultKeepsEarlierWrites() {
        Rig r;
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
        Rig r;
        r.animateTray();
        r.w.findChild<QCheckBox *>(QStringLiteral("chkAutoAdjustThreshold"))->setChecked(false);
        r.box("txtYellowThreshold")->setText(QStringLiteral("10"));
        r.box("txtRedThreshold")->setText(QStringLiteral("50"));
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
        Rig r;
        r.nic().counterBits = 32;
        r.tick();
        r.nic().inOctets = 4294967000u;
        r.nic().outOctets = 3000000000u;
        r.tick();
        QCOMPARE(r.text("lblSentBytes"), QStringLiteral("3,000,000,000"));
        r.nic().inOctets = 200;
        r.tick();
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("4,294,967,496"));
        QCOMPARE(r.text("lblDownBytes"), QStringLiteral("496"));
        QCOMPARE(r.w.sampler.recvWraps, qint64(1));
        r.traffic(1000, 0);
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("4,294,968,496"));
        QCOMPARE(r.text("lblDownBytes"), QStringLiteral("1,000"));
        QCOMPARE(r.w.sampler.recvWraps, qint64(1));
    }

    void interfaceSwitch() {
        Rig r;
        r.nic(2).counterBits = 32;
        r.nic(3).counterBits = 32;
        r.tick();
        r.nic().inOctets = 4294967000u;
        r.tick();
        r.nic().inOctets = 200;
        r.tick(); // a wrap on eth
        const QString before = r.valueLabels();

        r.w.selectedAdapter = 3;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Wireless Adapter"));
        QCOMPARE(r.valueLabels(), before);
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));

        r.tick(); // baseline: totals of wlan alone, last rates of eth stay
        QCOMPARE(r.text("lblRecvBytes"), QStringLiteral("5,000"));
        QCOMPARE(r.text("lblSentBytes"), QStringLiteral("7,000"));
        QCOMPARE(r.text("lblDownBytes"), QStringLiteral("496"));

        r.traffic(1000, 2000);
        QCOMPARE(r.valueLabels(), QStringLiteral("9,000|6,000|2,000|1,000"));
    }

    void miniWindow() {
        Rig r;
        frmMiniBandwidth *mini = r.w.miniWindow(true);
        mini->show();
        r.startMeasuring();
        QCOMPARE(miniText(mini, "lblMiniUp"), QString()); // no rates yet
        r.traffic(12346, 333);
        QCOMPARE(miniText(mini, "lblMiniUp"), QStringLiteral("0.33"));
        QCOMPARE(miniText(mini, "lblMiniDown"), QStringLiteral("12.35"));

        mini->hide();
        r.traffic(5000, 5000);
        QCOMPARE(miniText(mini, "lblMiniDown"), QStringLiteral("12.35"));
        mini->show();
        r.traffic(2500, 2500);
        QCOMPARE(miniText(mini, "lblMiniDown"), QStringLiteral("2.50"));
    }

    void germanLocale() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        Rig r;
        r.animateTray();
        frmMiniBandwidth *mini = r.w.miniWindow(true);
        mini->show();
        r.tick();
        r.nic().inOctets = 1234567890;
        r.tick();
        r.traffic(12346, 1500);
        const QString recv = r.text("lblRecvBytes");
        const QString tip = r.env.tray.tip;
        const QString down = miniText(mini, "lblMiniDown");
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(recv, QStringLiteral("1.234.580.236"));
        QCOMPARE(down, QStringLiteral("12,35"));
        QCOMPARE(tip, QStringLiteral("Bandwidth - Down: 12,35 k/sec - Up: 1,50 k/sec"));
    }

    void trayStep_data() {
        QTest::addColumn<bool>("autoAdjust");
        QTest::addColumn<QString>("yellow");
        QTest::addColumn<QString>("red");
        QTest::addColumn<int>("interval");
        QTest::addColumn<quint64>("up");
        QTest::addColumn<quint64>("down");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("yellowAfter");
        QTest::addColumn<QString>("redAfter");

        QTest::newRow("exactly red")
            << false << "10"
            << "50" << 1000 << quint64(50000) << quint64(9999) << "picRedGreen"
            << "10"
            << "50";
        QTest::newRow("upload idle")
            << false << "10"
            << "50" << 1000 << quint64(0) << quint64(12000) << "picNoneYellow"
            << "10"
            << "50";
        QTest::newRow("raised") << true << "1.00"
                                << "2.00" << 1000 << quint64(1500) << quint64(6000) << "picGreenRed"
                                << "2.00"
                                << "4.00";
        QTest::newRow("never lowered")
            << true << "100"
            << "200" << 1000 << quint64(1500) << quint64(6000) << "picGreenGreen"
            << "100"
            << "200";
        QTest::newRow("empty filled in")
            << true << ""
            << "" << 1000 << quint64(1500) << quint64(6000) << "picGreenRed"
            << "2.00"
            << "4.00";
        QTest::newRow("top rate 0 leaves empty")
            << true << ""
            << "50" << 60000 << quint64(0) << quint64(20) << "picNoneNone"
            << ""
            << "50";
        QTest::newRow("letters") << true << "abc"
                                 << "50" << 1000 << quint64(50000) << quint64(50000)
                                 << "picNoneNone"
                                 << "abc"
                                 << "50";
        QTest::newRow("fast link") << true << "10"
                                   << "20" << 300 << quint64(0) << quint64(3000000) << "picNoneRed"
                                   << "3333.33"
                                   << "6666.67";
        QTest::newRow("red below yellow")
            << false << "10"
            << "5" << 1000 << quint64(7000) << quint64(0) << "picRedNone"
            << "10"
            << "5";
    }
    void trayStep() {
        QFETCH(bool, autoAdjust);
        QFETCH(QString, yellow);
        QFETCH(QString, red);
        QFETCH(int, interval);
        QFETCH(quint64, up);
        QFETCH(quint64, down);
        Rig r;
        r.animateTray();
        r.w.findChild<QCheckBox *>(QStringLiteral("chkAutoAdjustThreshold"))
            ->setChecked(autoAdjust);
        r.box("txtYellowThreshold")->setText(yellow);
        r.box("txtRedThreshold")->setText(red);
        r.startMeasuring();
        // The baseline is quiet: idle picture, thresholds untouched.
        QCOMPARE(r.trayPicture(), QStringLiteral("picNoneNone"));
        QCOMPARE(r.box("txtYellowThreshold")->text(), yellow);

        r.w.tmrAdapterUpdate->setInterval(interval);
        r.traffic(down, up);
        QTEST(r.trayPicture(), "picture");
        QTEST(r.box("txtYellowThreshold")->text(), "yellowAfter");
        QTEST(r.box("txtRedThreshold")->text(), "redAfter");
        // The tip moved to the rates, so the icon was told even when the
        // thresholds left it idle.
        QCOMPARE(r.env.tray.requests.back().kind, FakeTrayHost::Request::Update);
        QVERIFY(r.env.tray.tip.startsWith(QLatin1String("Bandwidth - Down: ")));
    }

    void steadyLoadSendsNothing() {
        Rig r;
        r.animateTray();
        r.box("txtYellowThreshold")->setText(QStringLiteral("1.00"));
        r.box("txtRedThreshold")->setText(QStringLiteral("2.00"));
        r.startMeasuring();
        r.traffic(6000, 1500);
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 6.00 k/sec - Up: 1.50 k/sec"));
        const int updates = r.trayUpdates();
        QSignalSpy rewrites(r.box("txtRedThreshold"), &QLineEdit::textChanged);
        for (int i = 0; i < 10; ++i)
            r.traffic(6000, 1500);
        QCOMPARE(r.trayUpdates(), updates);
        QCOMPARE(rewrites.count(), 0);

        r.traffic(60000, 1500); // the load changes: told once
        QCOMPARE(r.trayUpdates(), updates + 1);
    }

    void trayLeftAlone_data() {
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("animate");
        QTest::newRow("not animated") << true << false;
        QTest::newRow("not shown") << false << true;
    }
    void trayLeftAlone() {
        QFETCH(bool, show);
        QFETCH(bool, animate);
        Rig r;
        r.animateTray();
        r.w.showTrayIcon = show;
        r.w.animateTrayIcon = animate;
        r.startMeasuring();
        r.traffic(600000, 600000);
        QVERIFY(r.env.tray.requests.empty());
        QVERIFY(!r.w.sampler.lastTrayPicture);
        QCOMPARE(r.box("txtYellowThreshold")->text(), QString());
    }
};

QTEST_MAIN(TickTest)
#include "test_tick.moc"
