#include "monitor/RateText.h"
#include "support/Table.h"

#include <QtTest>

namespace {
// en_IN groups its own way (1,23,45,67,890); the labels group in threes.
QLocale localeNamed(const QString &name) {
    if (name == QLatin1String("de"))
        return QLocale(QLocale::German, QLocale::Germany);
    if (name == QLatin1String("in"))
        return QLocale(QLocale::English, QLocale::India);
    return QLocale(QLocale::English, QLocale::UnitedStates);
}
} // namespace

class RateTextTest : public QObject {
    Q_OBJECT
private slots:
    void wholeRates_data() {
        const auto r = table<QString, double, QString>({"locale", "value", "text"});
        r("half away from zero", "en", 2.5, "3");
        r("half with groups", "en", 12345.5, "12,346");
        r("below half", "en", 1000.0 / 3.0, "333");
        r("carry into a new group", "en", 999.5, "1,000");
        r("small", "en", 0.49, "0");
        r("negative half", "en", -2.5, "-3");
        r("de", "de", 12345.5, "12.346");
        r("beyond 64 bits", "en", 1e19, "10,000,000,000,000,000,000");
        r("largest double below a half", "en", 0.49999999999999994, "0");
        r("negative below half loses its sign", "en", -0.4, "0");
        r("half just below 2^52", "en", 4503599627370495.5, "4,503,599,627,370,496");
        r("2^52 and beyond, through the text", "en", 4503599627370497.0, "4,503,599,627,370,497");
        r("en_IN in threes", "in", 1234567890.0, "1,234,567,890");
        r("en_IN beyond 64 bits", "in", 1e19, "10,000,000,000,000,000,000");
        r("en_IN negative", "in", -1234567.0, "-1,234,567");
    }
    void wholeRates() {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QTEST(RateText::wholeNumber(value, localeNamed(locale)), "text");
    }

    void twoDecimals_data() {
        const auto r = table<QString, double, QString>({"locale", "value", "text"});
        r("exact half", "en", 0.125, "0.13");
        // 12.345 is stored just below itself; the written number is what counts.
        r("decimal half", "en", 12.345, "12.35");
        r("decimal half 1.005", "en", 1.005, "1.01");
        r("below half", "en", 0.333, "0.33");
        r("carry", "en", 9.995, "10.00");
        r("zero", "en", 0.0, "0.00");
        r("no groups", "en", 10000.0 / 3.0, "3333.33");
        r("no groups, up", "en", 20000.0 / 3.0, "6666.67");
        r("tiny negative loses its sign", "en", -0.001, "0.00");
        r("de", "de", 12.346, "12,35");
        r("de no groups", "de", 20000.0 / 3.0, "6666,67");
    }
    void twoDecimals() {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QTEST(RateText::twoDecimals(value, localeNamed(locale)), "text");
    }

    // The kilo text of a whole-number label is worked out in integers; it
    // must be the text of the rate over 1000 rounded as twoDecimals does.
    void kiloText_data() {
        const auto r = table<QString, QString, QString>({"locale", "label", "text"});
        r("half up", "en", "5", "0.01");
        r("below half", "en", "4", "0.00");
        r("negative half", "en", "-5", "-0.01");
        r("negative below half", "en", "-4", "0.00");
        r("carry", "en", "999,995", "1000.00");
        r("groups", "en", "12,345", "12.35");
        r("largest whole number worked out so", "en", "999,999,999,999,995", "1000000000000.00");
        r("beyond it, through the text", "en", "1,000,000,000,000,005", "1000000000000.01");
        r("not a whole number", "en", "12.5", "0.01");
        r("de", "de", "12.345", "12,35");
    }
    void kiloText() {
        QFETCH(QString, locale);
        QFETCH(QString, label);
        const QLocale l = localeNamed(locale);
        const auto text = RateText::kiloText(label, l);
        QVERIFY(text);
        QTEST(*text, "text");
        QCOMPARE(*text, RateText::twoDecimals(*RateText::readNumber(label, l) / 1000.0, l));
    }

    void readNumber_data() {
        const auto r = table<QString, QString, bool, double>({"locale", "text", "ok", "value"});
        r("en groups", "en", "1,234,567,890", true, 1234567890.0);
        r("en plain", "en", "333", true, 333.0);
        r("en blanks", "en", " 12.5 ", true, 12.5);
        r("en empty", "en", "", false, 0.0);
        r("en letters", "en", "abc", false, 0.0);
        r("en misplaced groups", "en", "1,2,3", false, 0.0);
        r("en german decimal", "en", "12,35", false, 0.0);
        r("de groups", "de", "1.234.567.890", true, 1234567890.0);
        r("de decimal", "de", "12,35", true, 12.35);
        r("de english decimal", "de", "250.5", false, 0.0);
        r("en_IN threes", "in", "1,234,567,890", true, 1234567890.0);
        r("en_IN own groups", "in", "1,23,45,67,890", true, 1234567890.0);
        r("en_IN threes, negative", "in", "-1,234,567", true, -1234567.0);
        r("en_IN misplaced groups", "in", "1,2345", false, 0.0);
    }
    void readNumber() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        const auto value = RateText::readNumber(text, localeNamed(locale));
        QCOMPARE(value.has_value(), ok);
        if (ok)
            QTEST(*value, "value");
    }

    void trayTip_data() {
        const auto r = table<QString, QString, QString, bool, bool, QString>(
            {"locale", "down", "up", "show", "multiLine", "tip"});
        r("one line", "en", "12,346", "333", true, false,
          "Bandwidth - Down: 12.35 k/sec - Up: 0.33 k/sec");
        r("lines", "en", "12,346", "333", true, true,
          "Bandwidth\r\nDown: 12.35 k/sec\r\nUp: 0.33 k/sec");
        r("de", "de", "12.346", "333", true, false,
          "Bandwidth - Down: 12,35 k/sec - Up: 0,33 k/sec");
        r("not wanted", "en", "12,346", "333", false, false, "Zarn Bandwidth");
        r("no upload rate yet", "en", "12,346", "", true, false, "Zarn Bandwidth");
        r("no download rate yet", "en", "", "333", true, false, "Zarn Bandwidth");
        r("en_IN", "in", "1,234,567", "333", true, false,
          "Bandwidth - Down: 1234.57 k/sec - Up: 0.33 k/sec");
    }
    void trayTip() {
        QFETCH(QString, locale);
        QFETCH(QString, down);
        QFETCH(QString, up);
        QFETCH(bool, show);
        QFETCH(bool, multiLine);
        QTEST(RateText::trayTip(down, up, show, multiLine, localeNamed(locale)), "tip");
    }
};

QTEST_APPLESS_MAIN(RateTextTest)
#include "test_rate_text.moc"
