#include "adapters/AdapterText.h"

#include <QtTest>

class AdapterTextTest : public QObject {
    Q_OBJECT
private slots:
    void speed_data() {
        QTest::addColumn<quint64>("bits");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        const QString en = QStringLiteral("en_US");
        const QString de = QStringLiteral("de_DE");
        QTest::newRow("0") << Q_UINT64_C(0) << en << "0 bit";
        QTest::newRow("999") << Q_UINT64_C(999) << en << "999 bit";
        QTest::newRow("1000") << Q_UINT64_C(1000) << en << "1 kbit";
        QTest::newRow("11500") << Q_UINT64_C(11500) << en << "11.5 kbit";
        QTest::newRow("54000") << Q_UINT64_C(54000) << en << "54 kbit";
        QTest::newRow("999999") << Q_UINT64_C(999999) << en << "999.999 kbit";
        QTest::newRow("1e6") << Q_UINT64_C(1000000) << en << "1 mbit";
        QTest::newRow("T1") << Q_UINT64_C(1544000) << en << "1.544 mbit";
        QTest::newRow("100M") << Q_UINT64_C(100000000) << en << "100 mbit";
        QTest::newRow("2.5G past 32 bits") << Q_UINT64_C(2500000000) << en << "2500 mbit";
        QTest::newRow("10G no grouping") << Q_UINT64_C(10000000000) << en << "10000 mbit";
        QTest::newRow("15 digits") << Q_UINT64_C(12345678901234) << en << "12345678.901234 mbit";
        QTest::newRow("rounded to 15 digits")
            << Q_UINT64_C(18446744073709551615) << en << "18446744073709.6 mbit";
        QTest::newRow("de T1") << Q_UINT64_C(1544000) << de << "1,544 mbit";
        QTest::newRow("de 11500") << Q_UINT64_C(11500) << de << "11,5 kbit";
        QTest::newRow("de 10G no grouping") << Q_UINT64_C(10000000000) << de << "10000 mbit";
    }
    void speed() {
        QFETCH(quint64, bits);
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QCOMPARE(AdapterText::speedText(bits, QLocale(locale)), expected);
    }

    void typeName_data() {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QString>("expected"); // empty: no name, label untouched
        QTest::newRow("1") << 1u << "Other";
        QTest::newRow("6") << 6u << "Ethernet";
        QTest::newRow("9") << 9u << "TokenRing";
        QTest::newRow("15") << 15u << "FDDI";
        QTest::newRow("23") << 23u << "PPP";
        QTest::newRow("24") << 24u << "Loopback";
        QTest::newRow("28") << 28u << "SLIP";
        QTest::newRow("0 (failed query)") << 0u << "";
        QTest::newRow("71 wireless") << 71u << "";
        QTest::newRow("131 tunnel") << 131u << "";
    }
    void typeName() {
        QFETCH(quint32, type);
        QFETCH(QString, expected);
        const auto name = AdapterText::typeName(type);
        QCOMPARE(name.has_value(), !expected.isEmpty());
        if (name)
            QCOMPARE(*name, expected);
    }

    void linkType_data() {
        QTest::addColumn<quint32>("linkType");
        QTest::addColumn<bool>("wireless");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("ether") << 1u << false << 6u;
        QTest::newRow("wifi") << 1u << true << 71u;
        QTest::newRow("loopback") << 772u << false << 24u;
        QTest::newRow("ppp") << 512u << false << 23u;
        QTest::newRow("slip") << 256u << false << 28u;
        QTest::newRow("cslip") << 257u << false << 28u;
        QTest::newRow("ipip") << 768u << false << 131u;
        QTest::newRow("ip6tnl") << 769u << false << 131u;
        QTest::newRow("sit") << 776u << false << 131u;
        QTest::newRow("gre") << 778u << false << 131u;
        QTest::newRow("tun/wireguard") << 65534u << false << 131u;
        QTest::newRow("wireless flag only counts for ether") << 772u << true << 24u;
        QTest::newRow("infiniband") << 32u << false << 1u;
        QTest::newRow("can") << 280u << false << 1u;
    }
    void linkType() {
        QFETCH(quint32, linkType);
        QFETCH(bool, wireless);
        QFETCH(quint32, expected);
        QCOMPARE(AdapterText::interfaceTypeForLinkType(linkType, wireless), expected);
    }

    void dotted_data() {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QString>("expected");
        QTest::newRow("loopback") << 0x7F000001u << "127.0.0.1";
        QTest::newRow("zero") << 0u << "0.0.0.0";
        QTest::newRow("all ones") << 0xFFFFFFFFu << "255.255.255.255";
        QTest::newRow("byte order") << 0x0AC80002u << "10.200.0.2";
    }
    void dotted() {
        QFETCH(quint32, address);
        QFETCH(QString, expected);
        QCOMPARE(AdapterText::dottedAddress(address), expected);
    }

    void entry_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("expected");
        QTest::newRow("loopback") << "127.0.0.1"
                                  << "lo"
                                  << "127.0.0.1: lo";
        QTest::newRow("no address") << ""
                                    << "eth1"
                                    << ": eth1";
        QTest::newRow("spaces trimmed") << "10.0.0.1"
                                        << "  eth0  "
                                        << "10.0.0.1: eth0";
        QTest::newRow("inner spaces kept") << ""
                                           << " my link "
                                           << ": my link";
        QTest::newRow("only spaces are trimmed") << ""
                                                 << "\teth0"
                                                 << ": \teth0";
        QTest::newRow("cut at NUL") << "" << QString::fromUtf8("eth0\0junk", 9) << ": eth0";
        QTest::newRow("spaces before NUL") << "" << QString::fromUtf8(" eth0 \0x", 8) << ": eth0";
        QTest::newRow("empty") << ""
                               << ""
                               << ": ";
    }
    void entry() {
        QFETCH(QString, address);
        QFETCH(QString, description);
        QFETCH(QString, expected);
        QCOMPARE(AdapterText::entryText(address, description), expected);
    }

    void addressOf_data() {
        QTest::addColumn<qint32>("index");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one address") << 1 << "127.0.0.1";
        QTest::newRow("lowest of two, table out of order") << 3 << "10.200.0.2";
        QTest::newRow("none") << 4 << "";
        QTest::newRow("index 0 is nobody") << 0 << "";
    }
    void addressOf() {
        QFETCH(qint32, index);
        QFETCH(QString, expected);
        const std::vector<AddressRow> rows = {
            {0x0AC80009u, 3}, {0x7F000001u, 1}, {0x0AC80002u, 3}, {0x0AC80001u, 2}};
        QCOMPARE(AdapterText::addressOf(rows, index), expected);
    }
};

QTEST_GUILESS_MAIN(AdapterTextTest)
#include "test_adapter_text.moc"
