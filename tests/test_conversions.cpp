#include "settings/Conversions.h"
#include "support/Table.h"

#include <QtTest>

using namespace Conversions;

// "" for no value.
template <typename T> static QString shown(const std::optional<T> &v) {
    return v ? QString::number(*v) : QString();
}

// What does not convert, or does not fit the type, is "no value": callers use their defaults.
// fuzz_conversions holds the readings to one another over any text; these rows pin them.
class ConversionsTest : public QObject {
    Q_OBJECT
private slots:
    void convert_data() {
        columns<QString, bool, QByteArray, QString>({"kind", "german", "text", "expected"});
        const auto row = [](const char *kind, bool de, const char *text, const char *expected) {
            // Row names stay printable: the name rows hold bytes that are not UTF-8.
            QTest::addRow("%s %s'%s'", kind, de ? "de " : "",
                          QByteArray(text).toPercentEncoding(" ,").constData())
                << kind << de << QByteArray(text) << QString::fromUtf8(expected);
        };
        row("flag", false, "0.4", "1");
        row("16", false, "1,234", "1234");
        row("16", false, "2.5", "2"); // halves go to even
        row("16", true, "12,5", "12");
        row("16", true, "250.5", "");
        row("32", false, "2147483648", "");
        row("whole", false, "1e3", "1000");
        // The stored number survives the trip through Qt's enum (Checked is 2).
        row("state", false, "2", "2");
        row("state", false, "1.4", ""); // a fraction is no state
        row("state", false, "3", "");
        row("frequency", false, "60000", "60000");
        row("frequency", false, "0.5", "out of range");
        row("frequency", false, "250.5", "250");
        row("frequency", false, "abc", "not numeric");
        // Stored texts never depend on the user's locale (German here).
        row("int", true, "1234567", "1234567");
        row("adapter", true, "1234567", " 1234567");
        row("adapter", true, "-1", "-1");
        // Interface names are bytes; the stored text gives back exactly those.
        row("name", false, "wl\xc3\xa4n", "wl\u00e4n");
        row("name", false, "\xc3\xa4%\xff", "%C3%A4%25%FF");
        row("name", false, "a\x01\xe9", "a%01%E9");
    }
    void convert() {
        const QString kind = cell<QString>("kind");
        const QByteArray bytes = cell<QByteArray>("text");
        const QString text = QString::fromUtf8(bytes);
        const QLocale locale(cell<bool>("german") ? QLocale::German : QLocale::English);
        QLocale::setDefault(locale);
        QString got;
        if (kind == u"flag") {
            got = shown(textToFlag(text, locale));
        } else if (kind == u"16") {
            got = shown(textToInt16(text, locale));
        } else if (kind == u"32") {
            got = shown(textToInt32(text, locale));
        } else if (kind == u"whole") {
            got = shown(textToWholeInt32(text, locale));
        } else if (const auto state = textToCheckState(text, locale); kind == u"state") {
            got = state ? checkStateToText(*state) : QString();
        } else if (kind == u"frequency") {
            const char *const why[] = {"", "not numeric", "out of range"};
            const Frequency f = checkFrequency(text, locale);
            got = f.check == FrequencyCheck::Ok ? QString::number(f.interval) : why[int(f.check)];
        } else if (kind == u"int") {
            got = intToText(text.toLongLong());
        } else if (kind == u"adapter") {
            got = adapterToText(text.toInt());
        } else {
            got = interfaceNameToText(bytes);
            QCOMPARE(textToInterfaceName(got), bytes);
        }
        QLocale::setDefault(QLocale::c());
        QTEST(got, "expected");
    }
};

QTEST_GUILESS_MAIN(ConversionsTest)
#include "test_conversions.moc"
