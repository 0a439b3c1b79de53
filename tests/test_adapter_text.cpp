#include "adapters/AdapterText.h"
#include "support/Table.h"

#include <QtTest>

class AdapterTextTest : public QObject {
    Q_OBJECT
private slots:
    void speed_data() {
        const auto r = table<quint64, QString, QString>({"bits", "locale", "expected"});
        const QString en = QStringLiteral("en_US");
        const QString de = QStringLiteral("de_DE");
        r("0", 0, en, "0 bit");
        r("999", 999, en, "999 bit");
        r("1000", 1000, en, "1 kbit");
        r("11500", 11500, en, "11.5 kbit");
        r("999999", 999999, en, "999.999 kbit");
        r("1e6", 1000000, en, "1 mbit");
        r("T1", 1544000, en, "1.544 mbit");
        r("2.5G past 32 bits", 2500000000, en, "2500 mbit");
        r("10G no grouping", 10000000000, en, "10000 mbit");
        r("15 digits", 12345678901234, en, "12345678.901234 mbit");
        r("rounded to 15 digits", 18446744073709551615u, en, "18446744073709.6 mbit");
        r("de T1", 1544000, de, "1,544 mbit");
        r("de 10G no grouping", 10000000000, de, "10000 mbit");
    }
    void speed() {
        QFETCH(quint64, bits);
        QFETCH(QString, locale);
        QTEST(AdapterText::speedText(bits, QLocale(locale)), "expected");
    }

    // The kernel's link type to the interface-type code, and the code to the
    // name shown (none: the label stays as it was). Link type 0: the code alone.
    void interfaceType_data() {
        const auto r =
            table<quint32, bool, quint32, QString>({"linkType", "wireless", "code", "name"});
        r("ether", 1, false, 6, "Ethernet");
        r("wifi", 1, true, 71, "");
        r("wireless flag only counts for ether", 772, true, 24, "Loopback");
        r("loopback", 772, false, 24, "Loopback");
        r("ppp", 512, false, 23, "PPP");
        r("slip", 256, false, 28, "SLIP");
        r("cslip", 257, false, 28, "SLIP");
        r("ipip", 768, false, 131, "");
        r("ip6tnl", 769, false, 131, "");
        r("sit", 776, false, 131, "");
        r("gre", 778, false, 131, "");
        r("tun/wireguard", 65534, false, 131, "");
        r("infiniband", 32, false, 1, "Other");
        r("can", 280, false, 1, "Other");
        r("token ring", 0, false, 9, "TokenRing");
        r("FDDI", 0, false, 15, "FDDI");
        r("failed query", 0, false, 0, "");
    }
    void interfaceType() {
        QFETCH(quint32, linkType);
        QFETCH(bool, wireless);
        QFETCH(quint32, code);
        if (linkType)
            QCOMPARE(AdapterText::interfaceTypeForLinkType(linkType, wireless), code);
        QTEST(AdapterText::typeName(code).value_or(QString()), "name");
    }

    void entry_data() {
        const auto r = table<QString, QString, QString>({"address", "description", "expected"});
        r("loopback", "127.0.0.1", "lo", "127.0.0.1: lo");
        r("no address", "", "eth1", ": eth1");
        r("spaces trimmed", "10.0.0.1", "  eth0  ", "10.0.0.1: eth0");
        r("inner spaces kept", "", " my link ", ": my link");
        r("only spaces are trimmed", "", "\teth0", ": \teth0");
        r("cut at NUL", "", QString::fromUtf8("eth0\0junk", 9), ": eth0");
        r("spaces before NUL", "", QString::fromUtf8(" eth0 \0x", 8), ": eth0");
        r("empty", "", "", ": ");
    }
    void entry() {
        QFETCH(QString, address);
        QFETCH(QString, description);
        QTEST(AdapterText::entryText(address, description), "expected");
    }

    void addressOf_data() {
        const auto r = table<qint32, QString>({"index", "expected"});
        r("one address", 1, "127.0.0.1");
        r("lowest of two, table out of order", 3, "10.200.0.2");
        r("none", 4, "");
        r("index 0 is nobody", 0, "");
    }
    void addressOf() {
        QFETCH(qint32, index);
        const std::vector<AddressRow> rows = {
            {0x0AC80009u, 3}, {0x7F000001u, 1}, {0x0AC80002u, 3}, {0x0AC80001u, 2}};
        QTEST(AdapterText::addressOf(rows, index), "expected");
    }
};

QTEST_GUILESS_MAIN(AdapterTextTest)
#include "test_adapter_text.moc"
