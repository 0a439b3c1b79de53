#include "monitor/Sampler.h"
#include "support/Table.h"

#include <QtTest>
#include <limits>

// The level and threshold rules are tested through the tick (test_tick), where
// they meet the texts of the threshold boxes and the clock.

using Sampler::kWrapSpan;

class SamplerTest : public QObject {
    Q_OBJECT
private slots:
    void foldCounter_data() {
        const auto r = table<quint64, int, qint64, qint64, bool, qint64, qint64, bool>(
            {"counter", "bits", "wraps", "prev", "ok", "total", "wrapsAfter", "reset"});
        r("32-bit plain", 1000, 32, 0, 500, true, 1000, 0, false);
        r("32-bit top bit set is unsigned", 3000000000u, 32, 0, 0, true, 3000000000, 0, false);
        r("32-bit wrap", 200, 32, 0, 4294967000, true, 4294967496, 1, false);
        r("32-bit earlier wraps extend", 5, 32, 2, 2 * kWrapSpan, true, 2 * kWrapSpan + 5, 2,
          false);
        r("32-bit second wrap", 7, 32, 1, 2 * kWrapSpan - 10, true, 2 * kWrapSpan + 7, 2, false);
        r("32-bit unchanged is no wrap", 42, 32, 0, 42, true, 42, 0, false);
        r("32-bit ignores bits above the width", quint64(1) << 32 | 5, 32, 0, 0, true, 5, 0, false);
        r("32-bit extension overflows", 1, 32, qint64(1) << 31, 0, false, 0, 0, false);
        r("64-bit large", 10000000000000, 64, 0, 9000000000000, true, 10000000000000, 0, false);
        r("64-bit fall is a reset, not a wrap", 100, 64, 0, 5000000000, true, 100, 0, true);
        r("64-bit ignores wrap counts", 100, 64, 3, 50, true, 100, 3, false);
        r("64-bit beyond the signed range", quint64(1) << 63, 64, 0, 0, false, 0, 0, false);
    }
    void foldCounter() {
        QFETCH(quint64, counter);
        QFETCH(int, bits);
        QFETCH(qint64, wraps);
        QFETCH(qint64, prev);
        QFETCH(bool, ok);
        const auto fold = Sampler::foldCounter(counter, bits, wraps, prev);
        QCOMPARE(fold.has_value(), ok);
        if (!ok)
            return;
        QTEST(fold->total, "total");
        QTEST(fold->wraps, "wrapsAfter");
        QTEST(fold->reset, "reset");
    }

    // The time a rate is divided by, at 300 ms and at a minute.
    void elapsedMs_data() {
        const auto r =
            table<qint64, qint64, int, bool, double>({"prevNs", "nowNs", "interval", "ok", "ms"});
        r("on time", 1000000000, 1300000000, 300, true, 300.0);
        r("sub-millisecond", 0, 300250000, 300, true, 300.25);
        r("early", 0, 150000000, 300, true, 150.0);
        r("late", 0, 1500000000, 300, true, 1500.0);
        r("late, at the floor", 0, 5000000000, 300, true, 5000.0);
        r("long gap breaks", 0, 5000000001, 300, false, 0.0);
        r("a minute's interval, four late", 0, 240000000000, 60000, true, 240000.0);
        r("a minute's interval, five and more", 0, 300000000001, 60000, false, 0.0);
        r("no time", 7, 7, 300, false, 0.0);
        r("clock went back", 10, 7, 300, false, 0.0);
        r("readings too far apart to subtract", std::numeric_limits<qint64>::min(),
          std::numeric_limits<qint64>::max(), 300, false, 0.0);
    }
    void elapsedMs() {
        QFETCH(qint64, prevNs);
        QFETCH(qint64, nowNs);
        QFETCH(int, interval);
        QFETCH(bool, ok);
        const auto ms = Sampler::elapsedMs(prevNs, nowNs, interval);
        QCOMPARE(ms.has_value(), ok);
        if (ok)
            QTEST(*ms, "ms");
    }

    // Measured over exactly one interval, a rate is bit for bit the old
    // interval rule; over other times it is bytes over the time that passed.
    void rate_data() {
        const auto r = table<qint64, double, bool, double>({"difference", "ms", "ok", "rate"});
        r("one interval", 1000, 3000.0, true, 1000.0 * 1000 / 3000);
        r("late tick", 3000, 1500.0, true, 2000.0);
        r("early tick", 1000, 500.0, true, 2000.0);
        r("sub-millisecond", 3003, 300.3, true, 10000.0);
        r("zero time", 1000, 0.0, false, 0.0);
        r("negative time", 1000, -1.0, false, 0.0);
        r("product overflows", std::numeric_limits<qint64>::max() / 100, 300.0, false, 0.0);
    }
    void rate() {
        QFETCH(qint64, difference);
        QFETCH(double, ms);
        QFETCH(bool, ok);
        const auto rate = Sampler::rate(difference, ms);
        QCOMPARE(rate.has_value(), ok);
        if (ok)
            QTEST(*rate, "rate");
    }

    void topRate_data() {
        const auto r =
            table<qint64, qint64, int, bool, qint64>({"down", "up", "interval", "ok", "top"});
        r("download larger", 6000, 1500, 1000, true, 6000);
        r("upload larger", 10, 50000, 1000, true, 50000);
        r("rounds to 0 at long intervals", 20, 0, 60000, true, 0);
        r("half goes to even, down", 5, 0, 2000, true, 2);
        r("half goes to even, up", 7, 0, 2000, true, 4);
        r("fast link", 3000000, 0, 300, true, 10000000);
        r("zero interval", 5, 0, 0, false, 0);
    }
    void topRate() {
        QFETCH(qint64, down);
        QFETCH(qint64, up);
        QFETCH(int, interval);
        QFETCH(bool, ok);
        const auto top = Sampler::topRate(down, up, interval);
        QCOMPARE(top.has_value(), ok);
        if (ok)
            QTEST(*top, "top");
    }
};

QTEST_APPLESS_MAIN(SamplerTest)
#include "test_sampler.moc"
