#include "settings/Conversions.h"
#include "support/Table.h"

#include <QtTest>

using namespace Conversions;

// A text that does not convert, or a number outside the type, must come back
// as "no value" (never a crash, never a wrapped number): the callers then use
// their defaults. Rows with an empty expectation say exactly that.
class ConversionsTest : public QObject {
    Q_OBJECT
private slots:
    void convert_data() {
        columns<QString, bool, QString, QString>({"kind", "german", "text", "expected"});
        const auto row = [](const char *kind, bool de, const char *text, const char *expected) {
            QTest::addRow("%s %s'%s'", kind, de ? "de " : "", text)
                << kind << de << text << expected;
        };
        row("flag", false, " TRUE", "1");
        row("flag", false, "fAlSe", "0");
        row("flag", false, "0.0", "0");
        row("flag", false, "0.4", "1");
        row("flag", false, "maybe", "");
        row("16", false, "1,234", "1234");
        row("16", false, "-32768", "-32768");
        row("16", false, "32768", "");
        row("16", false, "2.5", "2"); // halves go to even
        row("16", false, "3.5", "4");
        row("16", false, "32767.5", ""); // rounds out of range
        row("16", false, "inf", "");
        row("16", true, "12,5", "12");
        row("16", true, "250.5", "");
        row("32", false, "2147483647", "2147483647");
        row("32", false, "2147483648", "");
        // Qt numbers check states differently (Checked is 2): the stored
        // number must survive the trip through Qt's enum.
        row("state", false, "0", "0");
        row("state", false, "1", "1");
        row("state", false, "2", "2");
        row("state", false, "1.4", ""); // a fraction is no state
        row("state", false, "3", "");
        row("state", false, "-1", "");
        row("whole", false, "1e3", "1000");
        row("whole", false, "2147483648", "");
    }
    void convert() {
        const QString kind = cell<QString>("kind"), text = cell<QString>("text");
        const QLocale locale =
            cell<bool>("german") ? QLocale(QLocale::German) : QLocale(QLocale::English);
        std::optional<QString> got;
        if (kind == u"flag") {
            if (const auto v = textToFlag(text, locale))
                got = *v ? QStringLiteral("1") : QStringLiteral("0");
        } else if (kind == u"16") {
            if (const auto v = textToInt16(text, locale))
                got = QString::number(*v);
        } else if (kind == u"32") {
            if (const auto v = textToInt32(text, locale))
                got = QString::number(*v);
        } else if (kind == u"whole") {
            if (const auto v = textToWholeInt32(text, locale))
                got = QString::number(*v);
        } else if (const auto v = textToCheckState(text, locale)) {
            got = checkStateToText(*v);
        }
        QTEST(got.value_or(QString()), "expected");
    }

    void frequency_data() {
        const auto r = table<QString, int, int>({"text", "check", "interval"});
        const int ok = int(FrequencyCheck::Ok), range = int(FrequencyCheck::OutOfRange);
        r("lowest", "1", ok, 1);
        r("highest", "60000", ok, 60000);
        r("above", "60001", range, 0);
        r("below", "0.5", range, 0);
        r("half to even", "250.5", ok, 250);
        r("letters", "abc", int(FrequencyCheck::NotNumeric), 0);
    }
    void frequency() {
        const Frequency f = checkFrequency(cell<QString>("text"), QLocale(QLocale::English));
        QTEST(int(f.check), "check");
        QTEST(int(f.interval), "interval");
    }

    void toText() {
        // Stored texts never depend on the user's locale.
        QLocale::setDefault(QLocale(QLocale::German));
        QCOMPARE(intToText(1234567), QStringLiteral("1234567"));
        QCOMPARE(adapterToText(1234567), QStringLiteral(" 1234567"));
        QCOMPARE(adapterToText(-1), QStringLiteral("-1"));
        QLocale::setDefault(QLocale::c());
    }

    // Interface names are bytes; the stored text gives back exactly those.
    void interfaceName_data() {
        columns<QByteArray, QString>({"name", "text"});
        row("plain", QByteArray("eth0"), QStringLiteral("eth0"));
        row("UTF-8 kept readable", QByteArray("wl\xc3\xa4n"), QStringLiteral("wl\u00e4n"));
        row("a percent sign", QByteArray("a%41"), QStringLiteral("a%2541"));
        row("both", QByteArray("\xc3\xa4%\xff"), QStringLiteral("%C3%A4%25%FF"));
        row("control byte", QByteArray("a\x01\xe9"), QStringLiteral("a%01%E9"));
    }
    void interfaceName() {
        const QString text = interfaceNameToText(cell<QByteArray>("name"));
        QTEST(text, "text");
        QTEST(textToInterfaceName(text), "name");
    }
};

QTEST_GUILESS_MAIN(ConversionsTest)
#include "test_conversions.moc"
