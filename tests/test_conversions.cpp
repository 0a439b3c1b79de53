#include "settings/Conversions.h"

#include <QtTest>

using namespace Conversions;

// A text that does not convert, or a number outside the type, must come back
// as "no value" (never a crash and never a wrapped number): the callers then
// use their defaults. Rows with ok=false say exactly that.
namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);

QLocale localeNamed(const QString &name) {
    return name == QLatin1String("de") ? german : english;
}

} // namespace

class ConversionsTest : public QObject {
    Q_OBJECT
private slots:
    void flag_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("value");
        QTest::newRow("True") << "en"
                              << "True" << true << true;
        QTest::newRow("TRUE") << "en"
                              << "TRUE" << true << true;
        QTest::newRow("false") << "en"
                               << "false" << true << false;
        QTest::newRow("fAlSe") << "en"
                               << "fAlSe" << true << false;
        QTest::newRow("1") << "en"
                           << "1" << true << true;
        QTest::newRow("0") << "en"
                           << "0" << true << false;
        QTest::newRow("-1") << "en"
                            << "-1" << true << true;
        QTest::newRow("0.0 is zero") << "en"
                                     << "0.0" << true << false;
        QTest::newRow("0.4 is not zero") << "en"
                                         << "0.4" << true << true;
        QTest::newRow("German 0,5") << "de"
                                    << "0,5" << true << true;
        QTest::newRow("German True") << "de"
                                     << "True" << true << true;
        QTest::newRow("maybe") << "en"
                               << "maybe" << false << false;
        QTest::newRow("yes") << "en"
                             << "yes" << false << false;
        QTest::newRow("empty") << "en"
                               << "" << false << false;
        QTest::newRow("Truely") << "en"
                                << "Truely" << false << false;
    }
    void flag() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(bool, value);
        const auto result = textToFlag(text, localeNamed(locale));
        QCOMPARE(result.has_value(), ok);
        if (ok)
            QCOMPARE(*result, value);
    }

    void int16_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("zero") << "en"
                              << "0" << true << 0;
        QTest::newRow("blanks around") << "en"
                                       << "  42 " << true << 42;
        QTest::newRow("plus sign") << "en"
                                   << "+7" << true << 7;
        QTest::newRow("group") << "en"
                               << "1,234" << true << 1234;
        QTest::newRow("misplaced groups") << "en"
                                          << "1,2,3" << false << 0;
        QTest::newRow("max") << "en"
                             << "32767" << true << 32767;
        QTest::newRow("min") << "en"
                             << "-32768" << true << -32768;
        QTest::newRow("above max") << "en"
                                   << "32768" << false << 0;
        QTest::newRow("below min") << "en"
                                   << "-32769" << false << 0;
        QTest::newRow("2.5 to even") << "en"
                                     << "2.5" << true << 2;
        QTest::newRow("3.5 to even") << "en"
                                     << "3.5" << true << 4;
        QTest::newRow("-2.5 to even") << "en"
                                      << "-2.5" << true << -2;
        QTest::newRow("2.6 nearest") << "en"
                                     << "2.6" << true << 3;
        QTest::newRow("max half rounds out") << "en"
                                             << "32767.5" << false << 0;
        QTest::newRow("min half rounds in") << "en"
                                            << "-32768.5" << true << -32768;
        QTest::newRow("exponent") << "en"
                                  << "1e3" << true << 1000;
        QTest::newRow("exponent out") << "en"
                                      << "1E5" << false << 0;
        QTest::newRow("huge exponent") << "en"
                                       << "1e400" << false << 0;
        QTest::newRow("inf") << "en"
                             << "inf" << false << 0;
        QTest::newRow("nan") << "en"
                             << "nan" << false << 0;
        QTest::newRow("hex") << "en"
                             << "0x10" << false << 0;
        QTest::newRow("word") << "en"
                              << "abc" << false << 0;
        QTest::newRow("empty") << "en"
                               << "" << false << 0;
        QTest::newRow("blank") << "en"
                               << "   " << false << 0;
        QTest::newRow("True is no number") << "en"
                                           << "True" << false << 0;
        QTest::newRow("German group") << "de"
                                      << "1.234" << true << 1234;
        QTest::newRow("German decimal") << "de"
                                        << "2,5" << true << 2;
        QTest::newRow("German 12,35") << "de"
                                      << "12,35" << true << 12;
        QTest::newRow("German rejects 250.5") << "de"
                                              << "250.5" << false << 0;
        QTest::newRow("English 12,35 is no group") << "en"
                                                   << "12,35" << false << 0;
    }
    void int16() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        const auto result = textToInt16(text, localeNamed(locale));
        QCOMPARE(result.has_value(), ok);
        if (ok)
            QCOMPARE(int(*result), value);
    }

    void int32_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint32>("value");
        QTest::newRow("beyond 16 bits") << "en"
                                        << "99999999" << true << 99999999;
        QTest::newRow("max") << "en"
                             << "2147483647" << true << 2147483647;
        QTest::newRow("min") << "en"
                             << "-2147483648" << true << qint32(-2147483647 - 1);
        QTest::newRow("above max") << "en"
                                   << "2147483648" << false << 0;
        QTest::newRow("below min") << "en"
                                   << "-2147483649" << false << 0;
        QTest::newRow("grouped") << "en"
                                 << "2,147,483,647" << true << 2147483647;
        QTest::newRow("German grouped") << "de"
                                        << "2.147.483.647" << true << 2147483647;
        QTest::newRow("exponent with fraction") << "en"
                                                << "1.5e3" << true << 1500;
        QTest::newRow("250.5 to even") << "en"
                                       << "250.5" << true << 250;
        QTest::newRow("251.5 to even") << "en"
                                       << "251.5" << true << 252;
        QTest::newRow("1e10") << "en"
                              << "1e10" << false << 0;
        QTest::newRow("adapter form") << "en"
                                      << " 2" << true << 2;
        QTest::newRow("x") << "en"
                           << "x" << false << 0;
    }
    void int32() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(qint32, value);
        const auto result = textToInt32(text, localeNamed(locale));
        QCOMPARE(result.has_value(), ok);
        if (ok)
            QCOMPARE(*result, value);
    }

    void toText_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("adapter");
        QTest::newRow("0") << qint64(0) << "0"
                           << " 0";
        QTest::newRow("2") << qint64(2) << "2"
                           << " 2";
        QTest::newRow("-1") << qint64(-1) << "-1"
                            << "-1";
        QTest::newRow("no groups") << qint64(1234567) << "1234567"
                                   << " 1234567";
        QTest::newRow("max") << qint64(2147483647) << "2147483647"
                             << " 2147483647";
    }
    void toText() {
        QFETCH(qint64, value);
        QFETCH(QString, plain);
        QFETCH(QString, adapter);
        // Stored texts never depend on the user's locale.
        QLocale::setDefault(german);
        QCOMPARE(intToText(value), plain);
        QCOMPARE(adapterToText(qint32(value)), adapter);
        QLocale::setDefault(QLocale::c());
    }

    void checkState_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("state");
        QTest::newRow("0 clear") << "0" << true << int(Qt::Unchecked);
        QTest::newRow("1 ticked") << "1" << true << int(Qt::Checked);
        QTest::newRow("2 greyed") << "2" << true << int(Qt::PartiallyChecked);
        QTest::newRow("1.4 rounds to 1") << "1.4" << true << int(Qt::Checked);
        QTest::newRow("3") << "3" << false << 0;
        QTest::newRow("-1") << "-1" << false << 0;
        QTest::newRow("True is no state") << "True" << false << 0;
        QTest::newRow("70000 beyond 16 bits") << "70000" << false << 0;
    }
    void checkState() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, state);
        const auto result = textToCheckState(text, english);
        QCOMPARE(result.has_value(), ok);
        if (!ok)
            return;
        QCOMPARE(int(*result), state);
        // Qt numbers its states differently from the stored texts: a round
        // trip must give the store's own number back.
        QCOMPARE(checkStateToText(*result), QString::number(qRound(text.toDouble())));
    }

    void frequency_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("check");
        QTest::addColumn<int>("interval");
        const int ok = int(FrequencyCheck::Ok);
        const int nan = int(FrequencyCheck::NotNumeric);
        const int range = int(FrequencyCheck::OutOfRange);
        QTest::newRow("300") << "en"
                             << "300" << ok << 300;
        QTest::newRow("60000") << "en"
                               << "60000" << ok << 60000;
        QTest::newRow("60001") << "en"
                               << "60001" << range << 0;
        QTest::newRow("60000.4") << "en"
                                 << "60000.4" << range << 0;
        QTest::newRow("1") << "en"
                           << "1" << ok << 1;
        QTest::newRow("0.9999") << "en"
                                << "0.9999" << range << 0;
        QTest::newRow("0") << "en"
                           << "0" << range << 0;
        QTest::newRow("-5") << "en"
                            << "-5" << range << 0;
        QTest::newRow("0.5") << "en"
                             << "0.5" << range << 0;
        QTest::newRow("abc") << "en"
                             << "abc" << nan << 0;
        QTest::newRow("empty") << "en"
                               << "" << nan << 0;
        QTest::newRow("blanks") << "en"
                                << " 250 " << ok << 250;
        QTest::newRow("250.5") << "en"
                               << "250.5" << ok << 250;
        QTest::newRow("1.5") << "en"
                             << "1.5" << ok << 2;
        QTest::newRow("grouped") << "en"
                                 << "1,000" << ok << 1000;
        QTest::newRow("exponent") << "en"
                                  << "2.5e2" << ok << 250;
        QTest::newRow("99999999") << "en"
                                  << "99999999" << range << 0;
        QTest::newRow("1e400") << "en"
                               << "1e400" << nan << 0;
        QTest::newRow("German 250,5") << "de"
                                      << "250,5" << ok << 250;
        QTest::newRow("German 250.5") << "de"
                                      << "250.5" << nan << 0;
        QTest::newRow("German 1.000") << "de"
                                      << "1.000" << ok << 1000;
    }
    void frequency() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(int, check);
        QFETCH(int, interval);
        const Frequency f = checkFrequency(text, localeNamed(locale));
        QCOMPARE(int(f.check), check);
        if (f.check == FrequencyCheck::Ok)
            QCOMPARE(f.interval, interval);
    }
};

QTEST_GUILESS_MAIN(ConversionsTest)
#include "test_conversions.moc"
