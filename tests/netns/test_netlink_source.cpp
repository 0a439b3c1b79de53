// The interface source against the real kernel, in the namespace netns.sh
// made: the table and each row against `ip link` and sysfs after iperf3
// traffic, the address table, link events, a thousand links, a socket that
// goes bad.

#include "Netns.h"
#include "platform/linux/NetlinkInterfaceSource.h"

#include <QDir>

namespace {

using Detail = InterfaceSource::Detail;

// The links as "index name" lines, in the kernel's order.
QByteArrayList listed(NetlinkInterfaceSource &source) {
    std::vector<InterfaceRow> rows;
    QByteArrayList out;
    if (source.interfaceTable(rows) == TableResult::Ok)
        for (const InterfaceRow &row : rows)
            out << QByteArray::number(row.index) + ' ' + row.name;
    return out;
}

// What `ip link` lists, in the same form.
QByteArrayList ipLinks() {
    QByteArray text;
    QByteArrayList out;
    if (netns::run("ip", {"-o", "link", "show"}, &text))
        for (const QByteArray &line : text.split('\n'))
            if (const QByteArrayList f = line.split(':'); f.size() > 1)
                out << f[0] + ' ' + f[1].trimmed().split('@')[0];
    return out;
}

QString text(const InterfaceRow &r) {
    return words(r.index, r.name.toHex(), r.description, r.type, r.inOctets, r.outOctets,
                 r.counterBits, r.speed);
}

} // namespace

class NetlinkSourceTest : public QObject {
    Q_OBJECT
    NetlinkInterfaceSource source_;

private slots:
    void initTestCase() {
        ZARN_REQUIRE_NETNS();
        QVERIFY(netns::vethPair());
        QVERIFY(netns::ipBatch("link add name v\xe9" // a name that is not UTF-8
                               "A type veth peer name zodd1 netns " +
                               netns::peer().toUtf8() + "\nlink set v\xe9" + QByteArray("A up")));
    }

    // After iperf3's traffic, each link of the table read by index, for the
    // tick and in full: the kernel's name bytes (shown with a bad byte
    // replaced), the type, the 64-bit counters where sysfs has them, and in
    // full the speed, from sysfs by the name's bytes (veth: 10000 Mbit/s).
    void rows() {
        QVERIFY(netns::traffic(3000000));
        QTest::qWait(300); // until the connection's last packets have gone
        std::vector<InterfaceRow> table;
        QCOMPARE(source_.interfaceTable(table), TableResult::Ok);
        QCOMPARE(listed(source_), ipLinks());
        QCOMPARE(table.size(), size_t(3));
        QCOMPARE(table[2].description, QStringLiteral("v\uFFFDA"));
        QVERIFY(table[1].name == "zveth0" && table[1].inOctets > 3000000);
        for (InterfaceRow &t : table) {
            QCOMPARE(t.type, t.name == "lo" ? 24u : 6u);
            QCOMPARE(t.inOctets, netns::sysfs(t.name, "statistics/rx_bytes").toULongLong());
            QCOMPARE(t.outOctets, netns::sysfs(t.name, "statistics/tx_bytes").toULongLong());
            InterfaceRow counters, full;
            QVERIFY(source_.interfaceRow(t.index, counters, Detail::Counters));
            QVERIFY(source_.interfaceRow(t.index, full, Detail::Full));
            counters.type = t.type; // the tick needs no type
            QCOMPARE(text(counters), text(t));
            t.speed = t.name == "lo" ? 0 : Q_UINT64_C(10000000000);
            QCOMPARE(text(full), text(t));
        }
    }

    // Sorted by address, not in the kernel's order (a link's primary
    // address first, then the others as they were added).
    void addresses() {
        QVERIFY(
            netns::ipBatch("addr add 10.200.0.9/24 dev zveth0\naddr add 10.200.0.3/24 dev zveth0"));
        std::vector<AddressRow> rows;
        QVERIFY(source_.addressTable(rows));
        QStringList seen;
        for (const AddressRow &row : rows)
            seen << words(QString::number(row.address, 16), row.index);
        const QString veth = QString::number(if_nametoindex("zveth0"));
        QCOMPARE(seen, QStringList({"ac80001 " + veth, "ac80003 " + veth, "ac80009 " + veth,
                                    "7f000001 1"}));
    }

    // Each change to the links is told by the next turn of the event loop,
    // and the table then is what `ip link` says. A link that went is read
    // as nothing, and the socket still answers the next question.
    void linkEvents() {
        int told = 0;
        QVERIFY(source_.watch([&] { ++told; }));
        const auto step = [&](const QByteArray &commands) {
            told = 0;
            return netns::ipBatch(commands) && QTest::qWaitFor([&] { return told > 0; }, 5000) &&
                   listed(source_) == ipLinks();
        };
        const QByteArray peer = " type veth peer name zev1 netns " + netns::peer().toUtf8();
        InterfaceRow row, nothing;
        QVERIFY(step("link add zev0" + peer));
        nothing.index = qint32(if_nametoindex("zev0"));
        QVERIFY(step("link set zev0 name zev2"));
        QVERIFY(source_.interfaceRow(nothing.index, row, Detail::Counters));
        QCOMPARE(row.name, QByteArray("zev2"));
        QVERIFY(step("addr add 10.201.0.1/24 dev zev2"));
        QVERIFY(step("link del zev2"));
        for (const Detail detail : {Detail::Counters, Detail::Full}) {
            row.name = "stale";
            QVERIFY(!source_.interfaceRow(nothing.index, row, detail));
            QCOMPARE(text(row), text(nothing));
        }
        QVERIFY(step("link add zev0" + peer));
        QVERIFY(qint32(if_nametoindex("zev0")) != nothing.index); // made anew: a new index
        QVERIFY(
            step("link del zev0\nlink add zev0 index " + QByteArray::number(nothing.index) + peer));
        QVERIFY(source_.interfaceRow(nothing.index, row, Detail::Counters));
        QCOMPARE(row.name, QByteArray("zev0"));
        QVERIFY(!source_.watch(nullptr));
    }

    // A source holds one socket for requests, however much it reads; when
    // that socket goes bad (its descriptor now names a UDP socket), it opens
    // a new one and the read still answers.
    void socketGoesBad() {
        const QDir fds(QStringLiteral("/proc/self/fd"));
        const QStringList before = fds.entryList(QDir::NoDotAndDotDot);
        auto source = std::make_unique<NetlinkInterfaceSource>();
        QStringList added = fds.entryList(QDir::NoDotAndDotDot);
        for (const QString &fd : before)
            added.removeAll(fd);
        QCOMPARE(added.size(), 1);
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(udp >= 0 && ::dup2(udp, added[0].toInt()) == added[0].toInt());
        ::close(udp);
        InterfaceRow row;
        std::vector<AddressRow> addresses;
        QVERIFY(source->interfaceRow(1, row, Detail::Counters) && row.name == "lo");
        QVERIFY(source->interfaceRow(1, row, Detail::Full) && source->addressTable(addresses));
        QCOMPARE(fds.entryList(QDir::NoDotAndDotDot).size(), before.size() + 1);
        source.reset();
        QCOMPARE(fds.entryList(QDir::NoDotAndDotDot), before);
    }

    // Five hundred pairs at once overflow the notification socket: the owner
    // is told all the same, and the table, many datagrams long, is whole.
    // (They go with the namespace: removing them one by one takes seconds.)
    void thousandLinks() {
        int told = 0;
        QVERIFY(source_.watch([&] { ++told; }));
        QByteArray add;
        for (int i = 0; i < 500; ++i)
            add += QByteArray("link add zb%1 type veth peer name zc%1\n")
                       .replace("%1", QByteArray::number(i));
        QVERIFY(netns::ipBatch(add));
        QTRY_VERIFY(told > 0);
        QCOMPARE(listed(source_), ipLinks());
    }
};

QTEST_GUILESS_MAIN(NetlinkSourceTest)
#include "test_netlink_source.moc"
