#include "monitor/RateText.h"
#include "monitor/Sampler.h"
#include "support/Table.h"

#include <QtTest>

// The texts of the rate labels and the arithmetic behind them, free of
// widgets. The threshold and level rules are tested through the tick.
namespace {
// en_IN groups its own way (1,23,45,67,890); the labels group in threes.
QLocale localeNamed(const QString &name) {
    return name == u"de"   ? QLocale(QLocale::German, QLocale::Germany)
           : name == u"in" ? QLocale(QLocale::English, QLocale::India)
                           : QLocale(QLocale::English, QLocale::UnitedStates);
}
QString shown(const std::optional<double> &v) {
    return v ? QString::number(*v, 'g', 17) : QStringLiteral("-");
}
} // namespace

class RatesTest : public QObject {
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
        // 12.345 is stored just below itself; the written number is what counts.
        r("decimal half", "two", "12.345", "12.35");
        r("carry", "two", "9.995", "10.00");
        r("tiny negative loses its sign", "two", "-0.001", "0.00");
        r("de", "two de", "12.346", "12,35");
        r("kilo half up", "kilo", "5", "0.01");
        r("kilo below half", "kilo", "4", "0.00");
        r("kilo negative half", "kilo", "-5", "-0.01");
        r("kilo negative below half", "kilo", "-4", "0.00");
        r("kilo carry", "kilo", "999,995", "1000.00");
        r("largest whole number in integers", "kilo", "999,999,999,999,995", "1000000000000.00");
        r("beyond it, through the text", "kilo", "1,000,000,000,000,005", "1000000000000.01");
        r("not a whole number", "kilo", "12.5", "0.01");
        r("en blanks", "read", " 12.5 ", "12.5");
        r("en empty", "read", "", "-");
        r("en misplaced groups", "read", "1,2,3", "-");
        r("de decimal", "read de", "12,35", "12.35");
        r("de english decimal", "read de", "250.5", "-");
        r("en_IN threes", "read in", "1,234,567", "1234567");
        r("en_IN threes, negative", "read in", "-1,234,567", "-1234567");
        r("en_IN misplaced groups", "read in", "1,2345", "-");
        r("tip lines", "tipLines", "12,346 333",
          "Bandwidth\r\nDown: 12.35 k/sec\r\nUp: 0.33 k/sec");
        r("tip not wanted", "tipOff", "12,346 333", "Zarn Bandwidth");
        r("tip, no upload rate yet", "tip", "12,346 ", "Zarn Bandwidth");
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
    }
    void calls() {
        const QStringList call = cell<QString>("call").split(u' ');
        const QString f = call[0], in = cell<QString>("in");
        const QLocale l = localeNamed(call.value(1));
        const QStringList a = in.split(u' ');
        QString out;
        if (f == u"whole") {
            out = RateText::wholeNumber(in.toDouble(), l);
        } else if (f == u"two") {
            out = RateText::twoDecimals(in.toDouble(), l);
        } else if (f == u"read") {
            out = shown(RateText::readNumber(in, l));
        } else if (f == u"kilo") {
            // Worked out in integers, it must be the rate over 1000 as twoDecimals rounds it.
            out = RateText::kiloText(in, l).value_or("-");
            QCOMPARE(out, RateText::twoDecimals(*RateText::readNumber(in, l) / 1000.0, l));
        } else if (f.startsWith(u"tip")) {
            out = RateText::trayTip(a[0], a[1], f != u"tipOff", f == u"tipLines", l);
        } else if (f == u"fold") {
            const auto r = Sampler::foldCounter(a[0].toULongLong(), a[1].toInt(), a[2].toLongLong(),
                                                a[3].toLongLong());
            out = r ? QStringLiteral("%1 %2 %3").arg(r->total).arg(r->wraps).arg(r->reset) : "-";
        } else if (f == u"elapsed") {
            out = shown(Sampler::elapsedMs(a[0].toLongLong(), a[1].toLongLong(), a[2].toInt()));
        } else {
            out = shown(Sampler::rate(a[0].toLongLong(), a[2].toDouble())) + ' ' +
                  shown(Sampler::topRate(a[0].toLongLong(), a[1].toLongLong(), a[2].toDouble()));
        }
        QTEST(out, "out");
    }
};

QTEST_APPLESS_MAIN(RatesTest)
#include "test_rates.moc"
