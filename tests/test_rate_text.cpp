#include "monitor/RateText.h"

#include <QtTest>

namespace {
QLocale localeNamed(const QString &name) {
    return name == QLatin1String("de") ? QLocale(QLocale::German, QLocale::Germany)
                                       : QLocale(QLocale::English, QLocale::UnitedStates);
}
} // namespace

class RateTextTest : public QObject {
    Q_OBJECT
private slots:
    void wholeTotals_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QString>("text");

        QTest::newRow("en groups") << "en" << qint64(1234567890) << "1,234,567,890";
        QTest::newRow("de groups") << "de" << qint64(1234567890) << "1.234.567.890";
        QTest::newRow("zero") << "en" << qint64(0) << "0";
        QTest::newRow("beyond 32 bits") << "en" << qint64(4294967496) << "4,294,967,496";
    }
    void wholeTotals() {
        QFETCH(QString, locale);
        QFETCH(qint64, value);
        QTEST(RateText::wholeNumber(value, localeNamed(locale)), "text");
    }

    void wholeRates_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");

        QTest::newRow("half away from zero") << "en" << 2.5 << "3";
        QTest::newRow("half with groups") << "en" << 12345.5 << "12,346";
        QTest::newRow("below half") << "en" << 1000.0 / 3.0 << "333";
        QTest::newRow("carry into a new group") << "en" << 999.5 << "1,000";
        QTest::newRow("small") << "en" << 0.49 << "0";
        QTest::newRow("negative half") << "en" << -2.5 << "-3";
        QTest::newRow("de") << "de" << 12345.5 << "12.346";
        QTest::newRow("beyond 64 bits") << "en" << 1e19 << "10,000,000,000,000,000,000";
    }
    void wholeRates() {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QTEST(RateText::wholeNumber(value, localeNamed(locale)), "text");
    }

    void twoDecimals_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");

        QTest::newRow("exact half") << "en" << 0.125 << "0.13";
        // 12.345 is stored just below itself; the written number is what counts.
        QTest::newRow("decimal half") << "en" << 12.345 << "12.35";
        QTest::newRow("decimal half 1.005") << "en" << 1.005 << "1.01";
        QTest::newRow("below half") << "en" << 0.333 << "0.33";
        QTest::newRow("carry") << "en" << 9.995 << "10.00";
        QTest::newRow("zero") << "en" << 0.0 << "0.00";
        QTest::newRow("no groups") << "en" << 10000.0 / 3.0 << "3333.33";
        QTest::newRow("no groups, up") << "en" << 20000.0 / 3.0 << "6666.67";
        QTest::newRow("tiny negative loses its sign") << "en" << -0.001 << "0.00";
        QTest::newRow("de") << "de" << 12.346 << "12,35";
        QTest::newRow("de no groups") << "de" << 20000.0 / 3.0 << "6666,67";
    }
    void twoDecimals() {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QTEST(RateText::twoDecimals(value, localeNamed(locale)), "text");
    }

    void readNumber_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<double>("value");

        QTest::newRow("en groups") << "en"
                                   << "1,234,567,890" << true << 1234567890.0;
        QTest::newRow("en plain") << "en"
                                  << "333" << true << 333.0;
        QTest::newRow("en blanks") << "en"
                                   << " 12.5 " << true << 12.5;
        QTest::newRow("en empty") << "en"
                                  << "" << false << 0.0;
        QTest::newRow("en letters") << "en"
                                    << "abc" << false << 0.0;
        QTest::newRow("en misplaced groups") << "en"
                                             << "1,2,3" << false << 0.0;
        QTest::newRow("en german decimal") << "en"
                                           << "12,35" << false << 0.0;
        QTest::newRow("de groups") << "de"
                                   << "1.234.567.890" << true << 1234567890.0;
        QTest::newRow("de decimal") << "de"
                                    << "12,35" << true << 12.35;
        QTest::newRow("de english decimal") << "de"
                                            << "250.5" << false << 0.0;
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

    // What the labels show must read back as the number they show, in every
    // locale, or the mini window and the tooltip would never update.
    void roundTrip_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<qint64>("value");
        for (const char *name : {"en", "de"}) {
            for (qint64 v : {qint64(0), qint64(999), qint64(1000), qint64(12346),
                             qint64(1234567890), qint64(4294967496)})
                QTest::addRow("%s %lld", name, static_cast<long long>(v))
                    << QString::fromLatin1(name) << v;
        }
    }
    void roundTrip() {
        QFETCH(QString, locale);
        QFETCH(qint64, value);
        const QLocale l = localeNamed(locale);
        const auto back = RateText::readNumber(RateText::wholeNumber(value, l), l);
        QVERIFY(back.has_value());
        QCOMPARE(*back, double(value));
    }

    void trayTip_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("down");
        QTest::addColumn<QString>("up");
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("multiLine");
        QTest::addColumn<QString>("tip");

        QTest::newRow("one line") << "en"
                                  << "12,346"
                                  << "333" << true << false
                                  << "Bandwidth - Down: 12.35 k/sec - Up: 0.33 k/sec";
        QTest::newRow("lines") << "en"
                               << "12,346"
                               << "333" << true << true
                               << "Bandwidth\r\nDown: 12.35 k/sec\r\nUp: 0.33 k/sec";
        QTest::newRow("de") << "de"
                            << "12.346"
                            << "333" << true << false
                            << "Bandwidth - Down: 12,35 k/sec - Up: 0,33 k/sec";
        QTest::newRow("not wanted") << "en"
                                    << "12,346"
                                    << "333" << false << false << "Zarn Bandwidth";
        QTest::newRow("no upload rate yet") << "en"
                                            << "12,346"
                                            << "" << true << false << "Zarn Bandwidth";
        QTest::newRow("no download rate yet") << "en"
                                              << ""
                                              << "333" << true << false << "Zarn Bandwidth";
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
