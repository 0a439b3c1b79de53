#include "monitor/Monitor.h"
#include "monitor/RateText.h"
#include "monitor/Sampler.h"
#include "settings/Conversions.h"
#include "support/Harness.h"
#include "ui/ValueLabel.h"
#include "ui/frmMiniBandwidth.h"

#include <QTimer>

// The texts of the rate labels and the arithmetic behind them, and the conversions behind every
// option box and stored setting, first free of widgets, then as the sampling tick makes use of
// them, with the threshold and level rules. A text that does not convert, or does not fit the
// type, is "no value": callers use their defaults. fuzz_conversions holds the readings to one
// another over its corpus (flags, halves to even, the type's limits, check states, frequencies
// out of range or not numeric); these rows pin the values read and the texts written, and
// test_window the frequency box's rounding and limits.
namespace {
// en_IN groups its own way (1,23,45,67,890); the labels group in threes.
QLocale localeNamed(const QString &name) {
    return name == u"de"   ? QLocale(QLocale::German, QLocale::Germany)
           : name == u"in" ? QLocale(QLocale::English, QLocale::India)
           : name == u"ar" ? QLocale(QLocale::Arabic, QLocale::Egypt)
                           : QLocale(QLocale::English, QLocale::UnitedStates);
}
template <typename T> QString shown(const std::optional<T> &v) {
    return v ? QString::number(double(*v), 'g', 17) : QStringLiteral("-");
}

// The monitor alone: eth (index 2), sampled every 1000 ms on a fake clock, not yet adopted. The
// threshold "boxes" take what the monitor raises them to.
struct TickRig {
    FakeInterfaceSource interfaces;
    FakeClock clock;
    Monitor m{&interfaces, &clock, &interfaces};
    Monitor::TrayOptions options;
    QString yellow, red, picture = QStringLiteral("none");
    std::vector<TickSample> samples;
    TickRig() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        InterfaceRow &eth = interfaces.add(2, QStringLiteral("Fast Ethernet Adapter"));
        eth.inOctets = 1000000;
        eth.outOctets = 500000;
        m.tmrAdapterUpdate->setInterval(1000);
        m.selectedAdapter = 2;
        QObject::connect(&m, &Monitor::sampled, [this](const TickSample &sample) {
            samples.push_back(sample);
            if (sample.picture)
                picture = sample.picture->name();
        });
        QObject::connect(&m, &Monitor::thresholdRaised, [this](auto which, const QString &text) {
            (which == Monitor::Threshold::Yellow ? yellow : red) = text;
        });
    }
    InterfaceRow &nic() { return *interfaces.find(m.selectedAdapter); }
    // With the timer running and no window watched, the tick rests once it measures: from then
    // on the resting ticker reads (on this thread), and the monitor catches up when woken.
    // rest: 0 ticks all along, 1 rests under a tray that takes the tip only to show it, 2 under
    // one that takes every new tip.
    bool woken = false;
    void mayRest(int rest) {
        if (!rest)
            return;
        m.resting = std::make_unique<RestingTicker>(interfaces, clock, [this] { woken = true; });
        m.resting->manual = true;
        m.tmrAdapterUpdate->start();
        options.tipEveryRate = rest == 2;
        m.setTrayOptions(options);
    }
    void tick(double afterMs = 1000) {
        clock.advanceMs(afterMs);
        if (!m.atRest())
            return m.tmrAdapterUpdate_Timer();
        m.resting->readNow();
        if (std::exchange(woken, false))
            m.catchUp();
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
    // Sent and received totals, up and down rates, as a window coming up shows them.
    QString labels() {
        m.catchUp();
        const Figures &f = m.figures();
        return QStringList{RateText::figureText(f.sent), RateText::figureText(f.recv),
                           RateText::figureText(f.up), RateText::figureText(f.down)}
            .join(u'|');
    }
    void animateTray(bool autoAdjust = false, const QString &y = "10", const QString &r = "50") {
        options = {true, autoAdjust, options.tipEveryRate};
        m.setTrayOptions(options);
        m.setThreshold(Monitor::Threshold::Yellow, yellow = y);
        m.setThreshold(Monitor::Threshold::Red, red = r);
    }
};

} // namespace

class TickTest : public QObject {
    Q_OBJECT
private slots:
    // "function [locale]", its blank-separated arguments (the down and up
    // labels of a tip) and the result, "-" where there is none.
    void calls_data() {
        const auto r = table<QString, QString, QString>({"call", "in", "out"});
        r("half away from zero", "whole", "2.5", "3");
        r("negative half", "whole", "-2.5", "-3");
        r("largest double below a half", "whole", "0.49999999999999994", "0");
        r("negative below half loses its sign", "whole", "-0.4", "0");
        r("half just below 2^52", "whole", "4503599627370495.5", "4,503,599,627,370,496");
        r("2^52 and beyond, through the text", "whole", "4503599627370497",
          "4,503,599,627,370,497");
        r("beyond 64 bits", "whole", "1e19", "10,000,000,000,000,000,000");
        r("en_IN in threes", "whole in", "1234567890", "1,234,567,890");
        r("de, negative", "whole de", "-1234567", "-1.234.567");
        r("lowest 64-bit number", "whole", "-9223372036854775808", "-9,223,372,036,854,775,808");
        r("digits of the locale", "whole ar", "1234", "\u0661\u066C\u0662\u0663\u0664");
        // 12.345 is stored just below itself; the written number is what counts.
        r("decimal half", "two", "12.345", "12.35");
        r("carry", "two", "9.995", "10.00");
        r("tiny negative loses its sign", "two", "-0.001", "0.00");
        r("de", "two de", "12.346", "12,35");
        r("kilo half up", "kilo", "5", "0.01");
        r("kilo negative half", "kilo", "-5", "-0.01");
        r("kilo carry", "kilo", "999995", "1000.00");
        r("kilo, digits of the locale", "kilo ar", "12345", "\u0661\u0662\u066B\u0663\u0665");
        r("en blanks", "read", " 12.5 ", "12.5");
        r("en empty", "read", "", "-");
        r("en misplaced groups", "read", "1,2,3", "-");
        r("de decimal", "read de", "12,35", "12.35");
        r("de english decimal", "read de", "250.5", "-");
        r("tip lines", "tipLines", "12346 333", "Bandwidth\r\nDown: 12.35 k/sec\r\nUp: 0.33 k/sec");
        r("tip not wanted", "tipOff", "12346 333", "Zarn Bandwidth");
        r("tip, no upload rate yet", "tip", "12346 ", "Zarn Bandwidth");
        r("tip, no download rate yet", "tip", " 333", "Zarn Bandwidth");
        // counter bits wraps previous -> total wraps reset
        r("32-bit top bit set is unsigned", "fold", "3000000000 32 0 0", "3000000000 0 0");
        r("32-bit wrap", "fold", "200 32 0 4294967000", "4294967496 1 0");
        r("32-bit earlier wraps extend", "fold", "5 32 2 8589934592", "8589934597 2 0");
        r("32-bit unchanged is no wrap", "fold", "42 32 0 42", "42 0 0");
        r("32-bit ignores bits above the width", "fold", "4294967301 32 0 0", "5 0 0");
        r("32-bit extension overflows", "fold", "1 32 2147483648 0", "-");
        r("64-bit fall is a reset, not a wrap", "fold", "100 64 0 5000000000", "100 0 1");
        r("64-bit ignores wrap counts", "fold", "100 64 3 50", "100 3 0");
        r("64-bit beyond the signed range", "fold", "9223372036854775808 64 0 0", "-");
        // previous and current ns, interval ms -> the ms a rate divides by
        r("sub-millisecond", "elapsed", "1000000000 1300250000 300", "300.25");
        r("late, at the floor", "elapsed", "0 5000000000 300", "5000");
        r("long gap breaks", "elapsed", "0 5000000001 300", "-");
        r("a minute's interval, five late", "elapsed", "0 300000000000 60000", "300000");
        r("a minute's interval, beyond five", "elapsed", "0 300000000001 60000", "-");
        r("no time", "elapsed", "7 7 300", "-");
        r("clock went back", "elapsed", "10 7 300", "-");
        r("difference overflows", "elapsed", "-9223372036854775808 1 300", "-");
        // down up ms -> bytes a second down, and the top rate rounded half to even
        r("rate sub-millisecond", "rate", "3003 0 300.3", "10000 10000");
        r("upload larger", "rate", "10 50000 1000", "10 50000");
        r("half goes to even, down", "rate", "5 0 2000", "2.5 2");
        r("half goes to even, up", "rate", "7 0 2000", "3.5 4");
        r("zero time", "rate", "1000 0 0", "- -");
        r("product overflows", "rate", "92233720368547758 0 300", "- -");
        r("rate beyond 64 bits", "rate", "9223372036854775 0 0.5", "1.844674407370955e+19 -");
        r("16 bits, groups", "16", "1,234", "1234");
        r("16 bits, de", "16 de", "12,5", "12");
        r("16 bits, de english decimal", "16 de", "250.5", "-");
        r("whole number", "whole32", "1e3", "1000");
        // Stored texts never depend on the user's locale (German here).
        r("int stored", "int de", "1234567", "1234567");
        r("adapter stored", "adapter de", "1234567", " 1234567");
        r("adapter -1 stored", "adapter de", "-1", "-1");
        // Interface names are bytes (given percent-encoded); the stored text gives back exactly
        // those.
        r("name UTF-8", "name", "wl%C3%A4n", "wl\u00e4n");
        r("name not UTF-8", "name", "%C3%A4%25%FF", "%C3%A4%25%FF");
        r("name control and Latin-1", "name", "a%01%E9", "a%01%E9");
    }
    void calls() {
        const QStringList call = cell<QString>("call").split(u' ');
        const QString f = call[0], in = cell<QString>("in");
        const QLocale l = localeNamed(call.value(1));
        const QStringList a = in.split(u' ');
        QString out;
        const auto whole = [](const QString &text) {
            bool ok = false;
            const qint64 v = text.toLongLong(&ok);
            return ok ? std::optional(v) : std::nullopt;
        };
        if (f == u"whole") {
            out = RateText::wholeNumber(in.toDouble(), l);
        } else if (f == u"two") {
            out = RateText::twoDecimals(in.toDouble(), l);
        } else if (f == u"read") {
            out = shown(RateText::readNumber(in, l));
        } else if (f == u"kilo") {
            out = RateText::kiloText(in.toLongLong(), l);
        } else if (f.startsWith(u"tip")) {
            out = RateText::trayTip(whole(a[0]), whole(a[1]), f != u"tipOff", f == u"tipLines", l);
        } else if (f == u"fold") {
            const auto r = Sampler::foldCounter(a[0].toULongLong(), a[1].toInt(), a[2].toLongLong(),
                                                a[3].toLongLong());
            out = r ? QStringLiteral("%1 %2 %3").arg(r->total).arg(r->wraps).arg(r->reset) : "-";
        } else if (f == u"elapsed") {
            out = shown(Sampler::elapsedMs(a[0].toLongLong(), a[1].toLongLong(), a[2].toInt()));
        } else if (f == u"16") {
            out = shown(Conversions::textToInt16(in, l));
        } else if (f == u"whole32") {
            out = shown(Conversions::textToWholeInt32(in, l));
        } else if (f == u"int" || f == u"adapter") {
            QLocale::setDefault(l);
            out = f == u"int" ? Conversions::intToText(in.toLongLong())
                              : Conversions::adapterToText(in.toInt());
            QLocale::setDefault(QLocale::c());
        } else if (f == u"name") {
            const QByteArray bytes = QByteArray::fromPercentEncoding(in.toLatin1());
            out = Conversions::interfaceNameToText(bytes);
            QCOMPARE(Conversions::textToInterfaceName(out), bytes);
        } else {
            out = shown(Sampler::rate(a[0].toLongLong(), a[2].toDouble())) + ' ' +
                  shown(Sampler::topRate(a[0].toLongLong(), a[1].toLongLong(), a[2].toDouble()));
        }
        QTEST(out, "out");
    }
    // Adoption, the baseline, then rates over the time that really passed, in the user's number
    // format; one row a tick, never the whole table.
    void adoptionBaselineMeasuring() {
        TickRig r;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        r.tick();
        QCOMPARE(r.m.figures().adapterName, QStringLiteral("Fast Ethernet Adapter"));
        QCOMPARE(r.labels(), QStringLiteral("|||"));
        r.nic().inOctets = 1234567890;
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("500.000|1.234.567.890||"));
        r.traffic(12346, 333, 500); // early: the time that passed counts
        QCOMPARE(r.labels(), QStringLiteral("500.333|1.234.580.236|666|24.692"));
        QCOMPARE(r.interfaces.rowQueries, 3);
        QCOMPARE(r.interfaces.tableQueries, 0);
        const TickSample &last = r.samples.back();
        QVERIFY(last.measured && last.hasRates && last.downRate == 24692 && last.upRate == 666);
        r.m.selectedAdapter = 0;
        r.tick();
        QCOMPARE(r.m.figures().adapterName, QStringLiteral("No adapter selected"));
        QCOMPARE(r.interfaces.rowQueries, 3);
    }

    // An unreadable interface measures nothing (zeros would count a phantom wrap);
    // the next good read is a baseline. A newly adopted one starts without the old
    // wraps, keeps the old figures until its baseline, and reads a counter at 0 as
    // 0; unreadable, it is adopted under its details page's name.
    void switchingAndLosingInterfaces() {
        TickRig r;
        r.animateTray();
        r.nic().counterBits = 32;
        r.nic().inOctets = 4294967000u;
        r.startMeasuring();
        r.nic().inOctets = 200;
        r.traffic(0, 3000);
        QCOMPARE(r.labels(), QStringLiteral("503,000|4,294,967,496|3,000|496"));
        const InterfaceRow saved = r.nic();
        r.interfaces.rows.clear();
        r.tick();
        r.tick();
        QCOMPARE(r.labels() + ' ' + r.picture,
                 QStringLiteral("503,000|4,294,967,496|| picNoneNone"));
        r.interfaces.rows.push_back(saved);
        r.traffic(2000, 1000);
        QCOMPARE(r.labels(), QStringLiteral("504,000|4,294,969,496||"));
        r.traffic(500, 700);
        const QString before = r.labels();
        QCOMPARE(before, QStringLiteral("504,700|4,294,969,996|700|500"));
        r.interfaces.add(4, QStringLiteral("tun0")).counterBits = 32;
        r.m.selectedAdapter = 4;
        r.tick();
        QCOMPARE(r.labels(), before);
        r.tick();
        QCOMPARE(r.labels(), QStringLiteral("0|0|700|500"));
        r.tick();
        QCOMPARE(r.labels() + ' ' + r.picture, QStringLiteral("0|0|0|0 picNoneNone"));
        r.m.selectedDescription = QStringLiteral("Gone Adapter");
        r.m.selectedAdapter = 9;
        r.tick();
        QCOMPARE(r.m.figures().adapterName + r.labels(), QStringLiteral("Gone Adapter|||"));
    }

    // A fault halfway (an overflow) keeps what was written and the previous
    // totals; a falling 64-bit counter was reset and that side is idle until its
    // new baseline; a long gap gives no rate and leaves the thresholds alone.
    void breaksInTheSeries_data() {
        QTest::addColumn<int>("rest");
        QTest::newRow("ticking") << 0;
        QTest::newRow("resting") << 1;
        QTest::newRow("resting, every tip") << 2;
    }
    void breaksInTheSeries() {
        TickRig r;
        r.animateTray(true);
        r.mayRest(cell<int>("rest"));
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
        QCOMPARE(r.picture, QStringLiteral("picGreenNone"));
        r.traffic(1000, 2000);
        QCOMPARE(r.labels(), QStringLiteral("511,000|1,100|2,000|1,000"));
        r.samples.clear();
        r.traffic(600000, 600000, 6000);
        QCOMPARE(r.labels(), QStringLiteral("1,111,000|601,100|2,000|1,000"));
        QCOMPARE(r.yellow, QStringLiteral("10"));
        QVERIFY(!r.samples.at(0).hasRates);
        r.traffic(2000, 2000);
        QCOMPARE(r.labels(), QStringLiteral("1,113,000|603,100|2,000|2,000"));
        QCOMPARE(r.m.atRest(), cell<int>("rest") == 1);
        r.traffic(0, 0);
        QCOMPARE(r.m.atRest(), cell<int>("rest") != 0);
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
        // At rest the tray and the thresholds must change on the same tick.
        for (const int rest : {0, 1, 2}) {
            TickRig r;
            const int interval = cell<int>("interval");
            r.animateTray(cell<bool>("autoAdjust"), cell<QString>("yellow"), cell<QString>("red"));
            r.m.tmrAdapterUpdate->setInterval(interval);
            r.mayRest(rest);
            r.tick(interval);
            r.tick(interval);
            r.tick(interval);
            r.traffic(cell<quint64>("down"), cell<quint64>("up"), interval);
            r.m.catchUp();
            QTEST(r.picture, "picture");
            QTEST(r.yellow, "yellowAfter");
            QTEST(r.red, "redAfter");
        }
    }

    // The views: the main window's labels, the mini window and the tray. Hidden, a window's
    // labels are left alone; shown, it shows the latest figures at once. A steady load tells the
    // tray nothing; with either tray option off the tick leaves tray and thresholds alone, back
    // on the idle picture shows until the next tick. Only the first tick minimises.
    void views() {
        Rig r;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        InterfaceRow &eth = r.env.interfaces.add(2, QStringLiteral("Fast Ethernet Adapter"));
        r.env.tray.shown = true;
        for (const char *name : {"chkShowTrayIcon", "chkAnimateTrayIcon", "chkShowBandwidth",
                                 "chkAutoAdjustThreshold", "chkStartupMinimized"}) {
            r.box(name)->setChecked(false);
            r.box(name)->setChecked(true);
        }
        Monitor &m = *r.w.monitor;
        m.tmrAdapterUpdate->setInterval(1000);
        m.selectedAdapter = 2;
        const auto traffic = [&](quint64 down, quint64 up) {
            eth.inOctets += down;
            eth.outOctets += up;
            m.tmrAdapterUpdate_Timer();
        };
        traffic(0, 0);
        QVERIFY(r.w.isMinimized());
        r.w.setWindowState(Qt::WindowNoState);
        traffic(0, 0);
        traffic(12346, 333);
        QVERIFY(!r.w.isMinimized());
        QCOMPARE(r.text("lblDownBytes"), QString());
        QCOMPARE(r.env.tray.tip, QStringLiteral("Bandwidth - Down: 12,35 k/sec - Up: 0,33 k/sec"));
        frmMiniBandwidth *mini = r.w.miniWindow(true);
        const auto miniText = [&] {
            return mini->findChild<ValueLabel *>("lblMiniDown")->text() + ' ' +
                   mini->findChild<ValueLabel *>("lblMiniUp")->text();
        };
        mini->show();
        QCOMPARE(miniText(), QStringLiteral("12,35 0,33"));
        r.w.show();
        QCOMPARE(QStringList({r.text("lblAdapterName"), r.text("lblSentBytes"),
                              r.text("lblRecvBytes"), r.text("lblUpBytes"), r.text("lblDownBytes")})
                     .join(u'|'),
                 QStringLiteral("Fast Ethernet Adapter|333|12.346|333|12.346"));
        mini->hide();
        traffic(900000, 900000);
        auto requests = r.env.tray.requests.size();
        traffic(900000, 900000);
        QCOMPARE(r.env.tray.requests.size(), requests);
        QCOMPARE(r.text("lblDownBytes") + ' ' + r.edit("txtYellowThreshold")->text(),
                 QStringLiteral("900.000 300,00"));
        mini->show();
        QCOMPARE(miniText(), QStringLiteral("900,00 900,00"));
        for (const char *name : {"chkAnimateTrayIcon", "chkShowTrayIcon"}) {
            r.box(name)->setChecked(false);
            requests = r.env.tray.requests.size();
            traffic(1800000, 1800000);
            QCOMPARE(r.env.tray.requests.size(), requests);
            QCOMPARE(r.edit("txtYellowThreshold")->text(), QStringLiteral("300,00"));
            r.box(name)->setChecked(true);
            QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
            traffic(900000, 900000);
            QCOMPARE(requestLog(r.env.tray).section(' ', -1), QStringLiteral("k/sec"));
        }
        // Without the rates in the tip, rates that move under the same picture tell it nothing.
        r.box("chkShowBandwidth")->setChecked(false);
        traffic(900000, 900000);
        requests = r.env.tray.requests.size();
        traffic(850000, 800000);
        QCOMPARE(r.env.tray.requests.size(), requests);
        QCOMPARE(r.env.tray.tip, QStringLiteral("Zarn Bandwidth"));
    }
};

QTEST_MAIN(TickTest)
#include "test_tick.moc"
