#include "monitor/Sampler.h"

#include <QtTest>
#include <limits>

// The level and threshold rules are tested through the tick (test_tick), where
// they meet the texts of the threshold boxes.

using Sampler::kWrapSpan;

class SamplerTest : public QObject {
    Q_OBJECT
private slots:
    void foldCounter_data() {
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<int>("bits");
        QTest::addColumn<qint64>("wraps");
        QTest::addColumn<qint64>("prev");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("wrapsAfter");
        QTest::addColumn<bool>("reset");

        QTest::newRow("32-bit plain") << quint64(1000) << 32 << qint64(0) << qint64(500) << true
                                      << qint64(1000) << qint64(0) << false;
        QTest::newRow("32-bit top bit set is unsigned")
            << quint64(3000000000u) << 32 << qint64(0) << qint64(0) << true << qint64(3000000000)
            << qint64(0) << false;
        QTest::newRow("32-bit wrap") << quint64(200) << 32 << qint64(0) << qint64(4294967000)
                                     << true << qint64(4294967496) << qint64(1) << false;
        QTest::newRow("32-bit earlier wraps extend")
            << quint64(5) << 32 << qint64(2) << 2 * kWrapSpan << true << 2 * kWrapSpan + 5
            << qint64(2) << false;
        QTest::newRow("32-bit second wrap") << quint64(7) << 32 << qint64(1) << 2 * kWrapSpan - 10
                                            << true << 2 * kWrapSpan + 7 << qint64(2) << false;
        QTest::newRow("32-bit unchanged is no wrap") << quint64(42) << 32 << qint64(0) << qint64(42)
                                                     << true << qint64(42) << qint64(0) << false;
        QTest::newRow("32-bit ignores bits above the width")
            << (quint64(1) << 32 | 5) << 32 << qint64(0) << qint64(0) << true << qint64(5)
            << qint64(0) << false;
        QTest::newRow("32-bit extension overflows")
            << quint64(1) << 32 << (qint64(1) << 31) << qint64(0) << false << qint64(0) << qint64(0)
            << false;
        QTest::newRow("64-bit large")
            << quint64(10000000000000) << 64 << qint64(0) << qint64(9000000000000) << true
            << qint64(10000000000000) << qint64(0) << false;
        QTest::newRow("64-bit fall is a reset, not a wrap")
            << quint64(100) << 64 << qint64(0) << qint64(5000000000) << true << qint64(100)
            << qint64(0) << true;
        QTest::newRow("64-bit ignores wrap counts") << quint64(100) << 64 << qint64(3) << qint64(50)
                                                    << true << qint64(100) << qint64(3) << false;
        QTest::newRow("64-bit beyond the signed range")
            << (quint64(1) << 63) << 64 << qint64(0) << qint64(0) << false << qint64(0) << qint64(0)
            << false;
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
        QTest::addColumn<qint64>("down");
        QTest::addColumn<qint64>("up");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("top");

        QTest::newRow("download larger")
            << qint64(6000) << qint64(1500) << 1000 << true << qint64(6000);
        QTest::newRow("upload larger")
            << qint64(10) << qint64(50000) << 1000 << true << qint64(50000);
        QTest::newRow("rounds to 0 at long intervals")
            << qint64(20) << qint64(0) << 60000 << true << qint64(0);
        QTest::newRow("half goes to even, down")
            << qint64(5) << qint64(0) << 2000 << true << qint64(2);
        QTest::newRow("half goes to even, up")
            << qint64(7) << qint64(0) << 2000 << true << qint64(4);
        QTest::newRow("fast link")
            << qint64(3000000) << qint64(0) << 300 << true << qint64(10000000);
        QTest::newRow("zero interval") << qint64(5) << qint64(0) << 0 << false << qint64(0);
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
