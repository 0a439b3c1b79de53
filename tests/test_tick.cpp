#include "monitor/RateText.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QRegularExpression>
#include <QTimer>
#include <optional>

namespace {

// One main window over fake interfaces: eth (index 2) and wlan (index 3),
// sampled every 1000 ms, with the tag start-up leaves behind. Ticks come on
// time unless a test says how late.
struct TickRig : Rig {
    FakeClock clock;
    TickRig() {
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

    InterfaceRow &nic(qint32 index = 2) { return *env.interfaces.find(index); }
    void tick() { tickAfter(w.tmrAdapterUpdate->interval()); }
    void tickAfter(double ms) {
        clock.advanceMs(ms);
        w.tmrAdapterUpdate_Timer();
    }
    // Moves traffic through the selected interface, then ticks.
    void traffic(quint64 down, quint64 up, std::optional<double> afterMs = std::nullopt) {
        nic(w.selectedAdapter).inOctets += down;
        nic(w.selectedAdapter).outOctets += up;
        tickAfter(afterMs.value_or(w.tmrAdapterUpdate->interval()));
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
        // What the system hands over is shown as it is, never as markup.
        r.w.miniWindow(true);
        for (QLabel *label :
             r.w.findChildren<QLabel *>(QRegularExpression("^lbl.*Bytes$|^lblAdapterName$")) +
                 r.w.miniWindow(false)->findChildren<QLabel *>())
            if (label->objectName().startsWith(QLatin1String("lbl")))
                QCOMPARE(label->textFormat(), Qt::PlainText);
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

    // Rates divide by the time that really passed since the last completed
    // tick. A tick with no time, or after a gap that breaks the series, shows
    // no rate, leaves the thresholds alone and becomes the new baseline.
    void rateRule_data() {
        const auto r = table<int, double, quint64, QString, QString, bool>(
            {"interval", "afterMs", "difference", "rate", "yellowAfter", "hasRates"});
        r("on time", 1000, 1000, 12346, "12,346", "4.12", true);
        r("short interval", 500, 500, 1000, "2,000", "1.00", true);
        r("long interval", 3000, 3000, 1000, "333", "1.00", true);
        r("early", 1000, 500, 1000, "2,000", "1.00", true);
        r("late: the true rate, thresholds not raised", 300, 1500, 3000, "2,000", "1.00", true);
        r("sub-millisecond", 300, 300.3, 3003, "10,000", "3.33", true);
        r("no time", 1000, 0, 5000, "1,000", "1.00", false);
        r("clock went back", 1000, -5, 5000, "1,000", "1.00", false);
        r("long gap", 300, 6000, 600000, "1,000", "1.00", false);
        r("late, at the floor", 300, 5000, 500000, "100,000", "33.33", true);
    }
    void rateRule() {
        QFETCH(int, interval);
        QFETCH(double, afterMs);
        QFETCH(quint64, difference);
        QFETCH(bool, hasRates);
        TickRig r;
        r.animateTray(true, QStringLiteral("1.00"), QStringLiteral("2.00"));
        r.startMeasuring();
        r.traffic(1000, 1000);
        QSignalSpy samples(&r.w, &frmMain::sampled);
        r.w.tmrAdapterUpdate->setInterval(interval);
        r.traffic(difference, difference, afterMs);
        QTEST(r.text("lblDownBytes"), "rate");
        QTEST(r.text("lblUpBytes"), "rate");
        QTEST(r.edit("txtYellowThreshold")->text(), "yellowAfter");
        const auto sample = samples.at(0).at(0).value<TickSample>();
        QCOMPARE(sample.hasRates, hasRates);
        if (hasRates)
            QCOMPARE(sample.downRate, difference * 1000.0 / afterMs);
        // The next tick on time measures from this one.
        r.traffic(2000, 2000);
        QCOMPARE(r.text("lblDownBytes"), RateText::wholeNumber(2000 * 1000.0 / interval));
    }

    // The adoption tick reads no time to measure from: a long gap right
    // after it still only leads to the baseline, and the first rate is
    // measured from the baseline's reading.
    void gapAfterAdoption() {
        TickRig r;
        r.tick();
        r.traffic(7000, 7000, 60000);
        QCOMPARE(r.valueLabels(), QStringLiteral("507,000|1,007,000||"));
        r.traffic(1500, 3000, 1500);
        QCOMPARE(r.valueLabels(), QStringLiteral("510,000|1,008,500|2,000|1,000"));
    }

    // The interface vanishes: the totals stay, but nothing is measured, and
    // the labels, the mini window and the tray say so. The next good read is
    // a fresh baseline (it spans two intervals, or comes from a link made
    // anew under the same index), so rates come back the tick after.
    void failedQuery() {
        TickRig r;
        r.animateTray(false, QStringLiteral("10"), QStringLiteral("50"));
        r.w.miniWindow(true)->show();
        r.startMeasuring();
        r.traffic(900000, 900000);
        QCOMPARE(r.trayPicture(), QStringLiteral("picRedRed"));
        const InterfaceRow saved = r.nic();
        r.env.interfaces.rows.erase(r.env.interfaces.rows.begin());
        const int updates = r.trayUpdates();
        for (int i = 0; i < 3; ++i)
            r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("1,400,000|1,900,000||"));
        QCOMPARE(r.mini("lblMiniUp") + r.mini("lblMiniDown"), QString());
        QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
        QCOMPARE(r.trayPicture(), QStringLiteral("picNoneNone"));
        QCOMPARE(r.trayUpdates(), updates + 1);
        QCOMPARE(r.w.sampler.recvWraps, qint64(0));

        InterfaceRow &back = r.env.interfaces.add(2, saved.description);
        back.inOctets = saved.inOctets + 2000;
        back.outOctets = saved.outOctets + 1000;
        r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("1,401,000|1,902,000||"));
        r.traffic(500, 700);
        QCOMPARE(r.valueLabels(), QStringLiteral("1,401,700|1,902,500|700|500"));

        // A newly selected interface that cannot be read is adopted all the
        // same, under the name its details page found: the Monitor tab must
        // not go on showing the previous interface.
        r.label("lblInfoAdapterName")->setText(QStringLiteral("Gone Adapter"));
        r.w.selectedAdapter = 9;
        r.tick();
        QCOMPARE(r.text("lblAdapterName"), QStringLiteral("Gone Adapter"));
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("9"));
        QCOMPARE(r.valueLabels(), QStringLiteral("|||"));
    }

    // A counter that reads 0 is a reading like any other: a link that never
    // moved (down, or a tunnel whose peer never answers) shows rates of 0
    // instead of keeping the previous interface's, and a transmit-only link
    // measures its one direction.
    void counterAtZero() {
        TickRig r;
        r.animateTray(false, QStringLiteral("10"), QStringLiteral("50"));
        r.startMeasuring();
        r.traffic(200000, 900000);
        r.env.interfaces.add(4, QStringLiteral("tun0"));
        r.w.selectedAdapter = 4;
        for (int i = 0; i < 3; ++i)
            r.tick();
        QCOMPARE(r.valueLabels(), QStringLiteral("0|0|0|0"));
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 0.00 k/sec - Up: 0.00 k/sec"));
        QCOMPARE(r.trayPicture(), QStringLiteral("picNoneNone"));
        r.traffic(0, 5000);
        QCOMPARE(r.valueLabels(), QStringLiteral("5,000|0|5,000|0"));
    }

    // A fault halfway (here the upload rate's product overflows) keeps what
    // was written before it and leaves the previous totals alone: the next
    // tick measures from the last completed one, over the time since then.
    void faultKeepsEarlierWrites() {
        TickRig r;
        r.animateTray();
        r.startMeasuring();
        r.traffic(4000, 3000);
        const int updates = r.trayUpdates();
        const quint64 sentBefore = r.nic().outOctets;
        r.traffic(5000, quint64(1) << 62);
        QCOMPARE(r.valueLabels(), RateText::wholeNumber(qint64(sentBefore + (quint64(1) << 62))) +
                                      QStringLiteral("|1,009,000|3,000|5,000"));
        QCOMPARE(r.w.sampler.prevRecvTotal, qint64(1004000));
        QCOMPARE(r.trayUpdates(), updates);

        r.nic().outOctets = sentBefore + 2000;
        r.traffic(1000, 0);
        QCOMPARE(r.valueLabels(), QStringLiteral("505,000|1,010,000|1,000|3,000"));
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
        r("idle direction at a red of 0.00", false, "0.00", "0.00", 1000, 0, 5000, "picNoneRed",
          "0.00", "0.00");
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

    // Switching either tray option off and on puts up the idle picture and
    // the plain tip; the next tick must send its own again, even under a
    // load that has not changed since.
    void trayOptionsSendAgain_data() {
        columns<QString>({"box"});
        row("animate", "chkAnimateTrayIcon");
        row("show", "chkShowTrayIcon");
    }
    void trayOptionsSendAgain() {
        QFETCH(QString, box);
        TickRig r;
        r.animateTray(false, QStringLiteral("10"), QStringLiteral("50"));
        r.startMeasuring();
        r.traffic(900000, 900000);
        const QString tip = r.env.tray.tip;
        r.box(qPrintable(box))->setChecked(false);
        r.box(qPrintable(box))->setChecked(true);
        QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
        r.traffic(900000, 900000);
        QCOMPARE(r.env.tray.tip, tip);
        QCOMPARE(r.trayPicture(), QStringLiteral("picRedRed"));
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
