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
        row("flag", false, "TRUE", "1");
        row("flag", false, "fAlSe", "0");
        row("flag", false, "-1", "1");
        row("flag", false, "0.0", "0");
        row("flag", false, "0.4", "1");
        row("flag", true, "0,5", "1");
        row("flag", false, "maybe", "");
        row("flag", false, "", "");
        row("16", false, "  42 ", "42");
        row("16", false, "1,234", "1234");
        row("16", false, "1,2,3", "");
        row("16", false, "-32768", "-32768");
        row("16", false, "32768", "");
        row("16", false, "2.5", "2");
        row("16", false, "3.5", "4");
        row("16", false, "-2.5", "-2");
        row("16", false, "32767.5", ""); // rounds out of range
        row("16", false, "1e3", "1000");
        row("16", false, "1e400", "");
        row("16", false, "inf", "");
        row("16", false, "0x10", "");
        row("16", false, "True", "");
        row("16", true, "1.234", "1234");
        row("16", true, "12,5", "12");
        row("16", true, "250.5", "");
        row("32", false, "99999999", "99999999");
        row("32", false, "-2147483648", "-2147483648");
        row("32", false, "2147483648", "");
        row("32", true, "2.147.483.647", "2147483647");
        row("32", false, "1.5e3", "1500");
        row("32", false, " 2", "2");
        // Qt numbers check states differently (Checked is 2): the stored
        // number must survive the trip through Qt's enum.
        row("state", false, "0", "0");
        row("state", false, "1", "1");
        row("state", false, "2", "2");
        row("state", false, "1.4", ""); // a fraction is no state
        row("state", false, "1.0", "1");
        row("whole", false, "1e3", "1000");
        row("whole", false, " -7 ", "-7");
        row("whole", false, "1.5", "");
        row("whole", true, "2,0", "2");
        row("whole", false, "2147483648", "");
        row("state", false, "3", "");
        row("state", false, "-1", "");
    }
    void convert() {
        QFETCH(QString, kind);
        QFETCH(bool, german);
        QFETCH(QString, text);
        const QLocale locale = german ? QLocale(QLocale::German) : QLocale(QLocale::English);
        std::optional<QString> got;
        if (kind == QLatin1String("flag")) {
            if (const auto v = textToFlag(text, locale))
                got = *v ? QStringLiteral("1") : QStringLiteral("0");
        } else if (kind == QLatin1String("16")) {
            if (const auto v = textToInt16(text, locale))
                got = QString::number(*v);
        } else if (kind == QLatin1String("32")) {
            if (const auto v = textToInt32(text, locale))
                got = QString::number(*v);
        } else if (kind == QLatin1String("whole")) {
            if (const auto v = textToWholeInt32(text, locale))
                got = QString::number(*v);
        } else if (const auto v = textToCheckState(text, locale)) {
            got = checkStateToText(*v);
        }
        QTEST(got.value_or(QString()), "expected");
    }

    void toText_data() {
        columns<qint64, QString, QString>({"value", "plain", "adapter"});
        row("0", qint64(0), "0", " 0");
        row("2", qint64(2), "2", " 2");
        row("-1", qint64(-1), "-1", "-1");
        row("no groups", qint64(1234567), "1234567", " 1234567");
    }
    void toText() {
        QFETCH(qint64, value);
        QFETCH(QString, adapter);
        // Stored texts never depend on the user's locale.
        QLocale::setDefault(QLocale(QLocale::German));
        QTEST(intToText(value), "plain");
        QCOMPARE(adapterToText(qint32(value)), adapter);
        QLocale::setDefault(QLocale::c());
    }

    // Interface names are bytes; the stored text gives back exactly those.
    void interfaceName_data() {
        columns<QByteArray, QString>({"name", "text"});
        row("plain", QByteArray("eth0"), QStringLiteral("eth0"));
        row("UTF-8 kept readable", QByteArray("wl\xc3\xa4n"), QStringLiteral("wl\u00e4n"));
        row("not UTF-8",
            QByteArray("v\xe9"
                       "A"),
            QStringLiteral("v%E9A"));
        row("a percent sign", QByteArray("a%41"), QStringLiteral("a%2541"));
        row("both", QByteArray("\xc3\xa4%\xff"), QStringLiteral("%C3%A4%25%FF"));
        row("control byte", QByteArray("a\x01\xe9"), QStringLiteral("a%01%E9"));
    }
    void interfaceName() {
        QFETCH(QByteArray, name);
        QTEST(interfaceNameToText(name), "text");
        QCOMPARE(textToInterfaceName(interfaceNameToText(name)), name);
    }
};

QTEST_GUILESS_MAIN(ConversionsTest)
#include "test_conversions.moc"
