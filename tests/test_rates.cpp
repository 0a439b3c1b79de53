#include "monitor/RateText.h"
#include "monitor/Sampler.h"
#include "support/Table.h"

#include <QtTest>
#include <limits>

// The texts of the rate labels and the arithmetic behind them, free of
// widgets. The threshold and level rules are tested through the tick.
namespace {
// en_IN groups its own way (1,23,45,67,890); the labels group in threes.
QLocale localeNamed(const QString &name) {
    return name == u"de"   ? QLocale(QLocale::German, QLocale::Germany)
           : name == u"in" ? QLocale(QLocale::English, QLocale::India)
                           : QLocale(QLocale::English, QLocale::UnitedStates);
}
QLocale rowLocale() {
    return localeNamed(cell<QString>("locale"));
}
// A result that may be missing, as text: "-" for none.
template <typename T> QString shown(const std::optional<T> &v) {
    if constexpr (std::is_floating_point_v<T>)
        return v ? QString::number(*v, 'g', 17) : QStringLiteral("-");
    else
        return v ? QString::number(*v) : QStringLiteral("-");
}
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
} // namespace

class RatesTest : public QObject {
    Q_OBJECT
private slots:
    void wholeNumber_data() {
        const auto r = table<QString, double, QString>({"locale", "value", "text"});
        r("half away from zero", "en", 2.5, "3");
        r("negative half", "en", -2.5, "-3");
        r("carry into a new group", "en", 999.5, "1,000");
        r("largest double below a half", "en", 0.49999999999999994, "0");
        r("negative below half loses its sign", "en", -0.4, "0");
        r("half just below 2^52", "en", 4503599627370495.5, "4,503,599,627,370,496");
        r("2^52 and beyond, through the text", "en", 4503599627370497.0, "4,503,599,627,370,497");
        r("beyond 64 bits", "en", 1e19, "10,000,000,000,000,000,000");
        r("de", "de", 12345.5, "12.346");
        r("en_IN in threes", "in", 1234567890.0, "1,234,567,890");
    }
    void wholeNumber() { QTEST(RateText::wholeNumber(cell<double>("value"), rowLocale()), "text"); }

    void twoDecimals_data() {
        const auto r = table<QString, double, QString>({"locale", "value", "text"});
        // 12.345 is stored just below itself; the written number is what counts.
        r("decimal half", "en", 12.345, "12.35");
        r("carry", "en", 9.995, "10.00");
        r("no groups", "en", 20000.0 / 3.0, "6666.67");
        r("tiny negative loses its sign", "en", -0.001, "0.00");
        r("de", "de", 12.346, "12,35");
    }
    void twoDecimals() { QTEST(RateText::twoDecimals(cell<double>("value"), rowLocale()), "text"); }

    // The kilo text of a whole-number label is worked out in integers; it
    // must be the text of the rate over 1000 rounded as twoDecimals does.
    void kiloText_data() {
        const auto r = table<QString, QString, QString>({"locale", "label", "text"});
        r("half up", "en", "5", "0.01");
        r("below half", "en", "4", "0.00");
        r("negative half", "en", "-5", "-0.01");
        r("negative below half", "en", "-4", "0.00");
        r("carry", "en", "999,995", "1000.00");
        r("largest whole number worked out so", "en", "999,999,999,999,995", "1000000000000.00");
        r("beyond it, through the text", "en", "1,000,000,000,000,005", "1000000000000.01");
        r("not a whole number", "en", "12.5", "0.01");
        r("de", "de", "12.345", "12,35");
    }
    void kiloText() {
        const QString label = cell<QString>("label");
        const auto text = RateText::kiloText(label, rowLocale());
        QTEST(text.value_or("-"), "text");
        QCOMPARE(*text, RateText::twoDecimals(*RateText::readNumber(label, rowLocale()) / 1000.0,
                                              rowLocale()));
    }

    void readNumber_data() {
        const auto r = table<QString, QString, QString>({"locale", "text", "value"});
        r("en groups", "en", "1,234,567,890", "1234567890");
        r("en blanks", "en", " 12.5 ", "12.5");
        r("en empty", "en", "", "-");
        r("en misplaced groups", "en", "1,2,3", "-");
        r("de decimal", "de", "12,35", "12.35");
        r("de english decimal", "de", "250.5", "-");
        r("en_IN threes", "in", "1,234,567", "1234567");
        r("en_IN threes, negative", "in", "-1,234,567", "-1234567");
        r("en_IN misplaced groups", "in", "1,2345", "-");
    }
    void readNumber() {
        QTEST(shown(RateText::readNumber(cell<QString>("text"), rowLocale())), "value");
    }

    void trayTip_data() {
        const auto r = table<QString, QString, bool, bool, QString>(
            {"down", "up", "show", "multiLine", "tip"});
        r("one line", "12,346", "333", true, false,
          "Bandwidth - Down: 12.35 k/sec - Up: 0.33 k/sec");
        r("lines", "12,346", "333", true, true, "Bandwidth\r\nDown: 12.35 k/sec\r\nUp: 0.33 k/sec");
        r("not wanted", "12,346", "333", false, false, "Zarn Bandwidth");
        r("no upload rate yet", "12,346", "", true, false, "Zarn Bandwidth");
        r("no download rate yet", "", "333", true, false, "Zarn Bandwidth");
    }
    void trayTip() {
        QTEST(RateText::trayTip(cell<QString>("down"), cell<QString>("up"), cell<bool>("show"),
                                cell<bool>("multiLine"), localeNamed("en")),
              "tip");
    }

    // A reading folded into a running total, as "total wraps [reset]".
    void foldCounter_data() {
        const auto r = table<quint64, int, qint64, qint64, QString>(
            {"counter", "bits", "wraps", "prev", "fold"});
        r("32-bit top bit set is unsigned", 3000000000u, 32, 0, 0, "3000000000 0");
        r("32-bit wrap", 200, 32, 0, 4294967000, "4294967496 1");
        r("32-bit earlier wraps extend", 5, 32, 2, 2 * Sampler::kWrapSpan, "8589934597 2");
        r("32-bit unchanged is no wrap", 42, 32, 0, 42, "42 0");
        r("32-bit ignores bits above the width", quint64(1) << 32 | 5, 32, 0, 0, "5 0");
        r("32-bit extension overflows", 1, 32, qint64(1) << 31, 0, "-");
        r("64-bit fall is a reset, not a wrap", 100, 64, 0, 5000000000, "100 0 reset");
        r("64-bit ignores wrap counts", 100, 64, 3, 50, "100 3");
        r("64-bit beyond the signed range", quint64(1) << 63, 64, 0, 0, "-");
    }
    void foldCounter() {
        const auto f = Sampler::foldCounter(cell<quint64>("counter"), cell<int>("bits"),
                                            cell<qint64>("wraps"), cell<qint64>("prev"));
        QTEST(
            f ? QStringLiteral("%1 %2%3").arg(f->total).arg(f->wraps).arg(f->reset ? " reset" : "")
              : QStringLiteral("-"),
            "fold");
    }

    // The time a rate is divided by, at 300 ms and at a minute.
    void elapsedMs_data() {
        const auto r = table<qint64, qint64, int, QString>({"prevNs", "nowNs", "interval", "ms"});
        r("sub-millisecond", 1000000000, 1300250000, 300, "300.25");
        r("late, at the floor", 0, 5000000000, 300, "5000");
        r("long gap breaks", 0, 5000000001, 300, "-");
        r("a minute's interval, five late", 0, 300000000000, 60000, "300000");
        r("a minute's interval, beyond five", 0, 300000000001, 60000, "-");
        r("no time", 7, 7, 300, "-");
        r("clock went back", 10, 7, 300, "-");
        r("difference overflows", std::numeric_limits<qint64>::min(), 1, 300, "-");
    }
    void elapsedMs() {
        QTEST(shown(Sampler::elapsedMs(cell<qint64>("prevNs"), cell<qint64>("nowNs"),
                                       cell<int>("interval"))),
              "ms");
    }

    // Bytes per second over the time that really passed; the top rate is the
    // larger direction's, rounded half to even.
    void rates_data() {
        const auto r =
            table<qint64, qint64, double, QString, QString>({"down", "up", "ms", "rate", "top"});
        r("sub-millisecond", 3003, 0, 300.3, "10000", "10000");
        r("upload larger", 10, 50000, 1000, "10", "50000");
        r("half goes to even, down", 5, 0, 2000, "2.5", "2");
        r("half goes to even, up", 7, 0, 2000, "3.5", "4");
        r("zero time", 1000, 0, 0, "-", "-");
        r("product overflows", kMax / 100, 0, 300, "-", "-");
        r("beyond 64 bits", kMax / 1000, 0, 0.5, "1.844674407370955e+19", "-");
    }
    void rates() {
        const qint64 down = cell<qint64>("down");
        const double ms = cell<double>("ms");
        QTEST(shown(Sampler::rate(down, ms)), "rate");
        QTEST(shown(Sampler::topRate(down, cell<qint64>("up"), ms)), "top");
    }
};

QTEST_APPLESS_MAIN(RatesTest)
#include "test_rates.moc"
