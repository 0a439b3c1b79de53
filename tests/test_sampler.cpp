#include "monitor/Sampler.h"
#include "support/Table.h"

#include <QtTest>

// The level and threshold rules are tested through the tick (test_tick), where
// they meet the texts of the threshold boxes.

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
