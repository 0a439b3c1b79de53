#include "monitor/Sampler.h"

#include <QtTest>
#include <limits>

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

    void direction_data() {
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("prev");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<bool>("hasRate");
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<qint64>("difference");

        QTest::newRow("baseline") << qint64(5000) << qint64(0) << false << false << true
                                  << qint64(5000);
        QTest::newRow("measuring")
            << qint64(5000) << qint64(4000) << false << true << false << qint64(1000);
        QTest::newRow("no change")
            << qint64(5000) << qint64(5000) << false << true << true << qint64(0);
        QTest::newRow("reset") << qint64(10) << qint64(5000) << true << false << true << qint64(0);
    }
    void direction() {
        QFETCH(qint64, total);
        QFETCH(qint64, prev);
        QFETCH(bool, reset);
        const Sampler::Direction d{total, prev, reset};
        QTEST(d.hasRate(), "hasRate");
        QTEST(d.quiet(), "quiet");
        QTEST(d.difference(), "difference");
    }

    void rate_data() {
        QTest::addColumn<qint64>("difference");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("rate");

        QTest::newRow("wrap example") << qint64(496) << 1000 << true << 496.0;
        QTest::newRow("short interval") << qint64(1000) << 500 << true << 2000.0;
        QTest::newRow("long interval") << qint64(1000) << 3000 << true << 1000.0 / 3.0;
        QTest::newRow("half") << qint64(5) << 2000 << true << 2.5;
        QTest::newRow("zero interval") << qint64(1000) << 0 << false << 0.0;
        QTest::newRow("negative interval") << qint64(1000) << -5 << false << 0.0;
        QTest::newRow("product overflows")
            << std::numeric_limits<qint64>::max() / 100 << 1000 << false << 0.0;
    }
    void rate() {
        QFETCH(qint64, difference);
        QFETCH(int, interval);
        QFETCH(bool, ok);
        const auto r = Sampler::rate(difference, interval);
        QCOMPARE(r.has_value(), ok);
        if (ok)
            QTEST(*r, "rate");
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

    void candidates_data() {
        QTest::addColumn<qint64>("top");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("yellow");
        QTest::addColumn<double>("red");

        QTest::newRow("6000") << qint64(6000) << true << 2.0 << 4.0;
        QTest::newRow("10,000,000") << qint64(10000000) << true << 10000.0 / 3.0 << 20000.0 / 3.0;
        QTest::newRow("zero") << qint64(0) << true << 0.0 << 0.0;
        QTest::newRow("doubling overflows")
            << std::numeric_limits<qint64>::max() << false << 0.0 << 0.0;
    }
    void candidates() {
        QFETCH(qint64, top);
        QFETCH(bool, ok);
        const auto c = Sampler::thresholdCandidates(top);
        QCOMPARE(c.has_value(), ok);
        if (!ok)
            return;
        QTEST(c->yellow, "yellow");
        QTEST(c->red, "red");
    }

    void raisesThreshold_data() {
        QTest::addColumn<bool>("empty");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("candidate");
        QTest::addColumn<qint64>("top");
        QTest::addColumn<bool>("autoAdjust");
        QTest::addColumn<bool>("raises");

        QTest::newRow("lower threshold goes up")
            << false << true << 1.0 << 2.0 << qint64(6000) << true << true;
        QTest::newRow("equal stays")
            << false << true << 2.0 << 2.0 << qint64(6000) << true << false;
        QTest::newRow("never lowered")
            << false << true << 5.0 << 2.0 << qint64(6000) << true << false;
        QTest::newRow("rounded text rewritten")
            << false << true << 0.33 << 1.0 / 3.0 << qint64(1000) << true << true;
        QTest::newRow("off leaves it")
            << false << true << 1.0 << 2.0 << qint64(6000) << false << false;
        QTest::newRow("empty filled in")
            << true << false << 0.0 << 2.0 << qint64(6000) << true << true;
        QTest::newRow("empty stays at top rate 0")
            << true << false << 0.0 << 0.0 << qint64(0) << true << false;
        QTest::newRow("empty stays when off")
            << true << false << 0.0 << 2.0 << qint64(6000) << false << false;
        QTest::newRow("letters stay")
            << false << false << 0.0 << 2.0 << qint64(6000) << true << false;
    }
    void raisesThreshold() {
        QFETCH(bool, empty);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        QFETCH(double, candidate);
        QFETCH(qint64, top);
        QFETCH(bool, autoAdjust);
        const std::optional<double> number = isNumber ? std::optional<double>(value) : std::nullopt;
        QTEST(Sampler::raisesThreshold(empty, number, candidate, top, autoAdjust), "raises");
    }

    void loadLevel_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("red");
        QTest::addColumn<double>("yellow");
        QTest::addColumn<LoadLevel>("level");

        QTest::newRow("exactly red") << 50.0 << 50.0 << 10.0 << LoadLevel::Red;
        QTest::newRow("just below yellow") << 9.999 << 50.0 << 10.0 << LoadLevel::Green;
        QTest::newRow("yellow") << 12.0 << 50.0 << 10.0 << LoadLevel::Yellow;
        QTest::newRow("exactly yellow") << 10.0 << 50.0 << 10.0 << LoadLevel::Yellow;
        QTest::newRow("idle") << 0.0 << 50.0 << 10.0 << LoadLevel::None;
        QTest::newRow("red below yellow wins") << 7.0 << 5.0 << 10.0 << LoadLevel::Red;
        QTest::newRow("zero thresholds make idle red") << 0.0 << 0.0 << 0.0 << LoadLevel::Red;
    }
    void loadLevel() {
        QFETCH(double, rate);
        QFETCH(double, red);
        QFETCH(double, yellow);
        QTEST(Sampler::loadLevel(rate, red, yellow), "level");
    }
};

QTEST_APPLESS_MAIN(SamplerTest)
#include "test_sampler.moc"
