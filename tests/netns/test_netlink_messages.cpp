// Decoding of rtnetlink replies and notifications from hand-built messages:
// old kernels' 32-bit statistics, short and damaged attributes, names that
// are not UTF-8, point-to-point addresses, truncated and lying lengths.

#include "platform/linux/NetlinkMessages.h"

#include "support/Table.h"

#include <QtTest>

#include <cstring>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace {

// A message payload: a fixed header followed by attributes.
class Payload {
public:
    Payload() = default;
    template <typename Header> explicit Payload(const Header &header) {
        append(&header, sizeof header);
    }

    Payload &attr(quint16 type, const void *data, std::size_t size) {
        rtattr a;
        a.rta_len = quint16(sizeof(rtattr) + size);
        a.rta_type = type;
        append(&a, sizeof a);
        append(data, size);
        return *this;
    }
    Payload &counters64(quint64 in, quint64 out, std::size_t size = sizeof(rtnl_link_stats64)) {
        rtnl_link_stats64 s{};
        s.rx_packets = 11;
        s.tx_packets = 12;
        s.rx_bytes = in;
        s.tx_bytes = out;
        return attr(IFLA_STATS64, &s, size);
    }
    Payload &counters32(quint32 in, quint32 out) {
        rtnl_link_stats s{};
        s.rx_packets = 21;
        s.tx_packets = 22;
        s.rx_bytes = in;
        s.tx_bytes = out;
        return attr(IFLA_STATS, &s, sizeof s);
    }
    Payload &name(const char *text) { return attr(IFLA_IFNAME, text, std::strlen(text) + 1); }
    // Bytes that claim to be an attribute longer than what follows.
    Payload &damaged() {
        rtattr a{200, IFLA_IFNAME};
        append(&a, sizeof a);
        return *this;
    }

    const char *data() const { return bytes_.constData(); }
    std::size_t size() const { return std::size_t(bytes_.size()); }

private:
    void append(const void *data, std::size_t size) {
        bytes_.append(static_cast<const char *>(data), qsizetype(size));
        while (bytes_.size() % 4)
            bytes_.append('\0');
    }
    QByteArray bytes_;
};

Payload linkMessage(int index, unsigned short type = ARPHRD_ETHER) {
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = index;
    info.ifi_type = type;
    return Payload(info);
}

Payload statsMessage(unsigned index) {
    if_stats_msg info{};
    info.family = AF_UNSPEC;
    info.ifindex = index;
    info.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    return Payload(info);
}

Payload addressMessage(int family, unsigned index) {
    ifaddrmsg info{};
    info.ifa_family = quint8(family);
    info.ifa_index = index;
    return Payload(info);
}

// A datagram as the socket hands it over: whole messages one after another.
class Datagram {
public:
    Datagram &message(quint16 type, quint32 seq, const Payload &payload = Payload()) {
        nlmsghdr header{};
        header.nlmsg_len = quint32(NLMSG_HDRLEN + payload.size());
        header.nlmsg_type = type;
        header.nlmsg_seq = seq;
        bytes_.append(reinterpret_cast<const char *>(&header), sizeof header);
        bytes_.append(payload.data(), qsizetype(payload.size()));
        return *this;
    }
    Datagram &error(quint32 seq, int code) {
        nlmsgerr e{};
        e.error = code;
        return message(NLMSG_ERROR, seq, Payload(e));
    }
    // The last message claims more bytes than there are.
    Datagram &lying(quint32 extra) {
        quint32 length = 0;
        std::memcpy(&length, bytes_.constData() + last(), sizeof length);
        length += extra;
        std::memcpy(bytes_.data() + last(), &length, sizeof length);
        return *this;
    }
    Datagram &cut(qsizetype bytes) {
        bytes_.chop(bytes);
        return *this;
    }
    const char *data() const { return bytes_.constData(); }
    std::size_t size() const { return std::size_t(bytes_.size()); }

private:
    qsizetype last() const {
        qsizetype at = 0;
        for (qsizetype next = 0; next < bytes_.size();) {
            at = next;
            quint32 length = 0;
            std::memcpy(&length, bytes_.constData() + next, sizeof length);
            next += qsizetype((length + 3) & ~3u);
        }
        return at;
    }
    QByteArray bytes_;
};

const unsigned char kLocal[4] = {10, 200, 0, 1};
const unsigned char kPeer[4] = {10, 200, 0, 254};

} // namespace

Q_DECLARE_METATYPE(Payload)
Q_DECLARE_METATYPE(Datagram)

class NetlinkMessagesTest : public QObject {
    Q_OBJECT
private slots:
    void link_data() {
        QTest::addColumn<Payload>("payload");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<quint64>("in");
        QTest::addColumn<quint64>("out");
        QTest::addColumn<int>("bits");
        const quint64 big = Q_UINT64_C(5000000000); // past 32 bits

        QTest::newRow("64-bit counters")
            << linkMessage(3).name("eth0").counters64(big, 7).counters32(1, 2) << QByteArray("eth0")
            << big << Q_UINT64_C(7) << 64;
        QTest::newRow("64-bit after 32-bit")
            << linkMessage(3).counters32(1, 2).counters64(big, 7).name("eth0") << QByteArray("eth0")
            << big << Q_UINT64_C(7) << 64;
        QTest::newRow("old kernel: 32-bit only")
            << linkMessage(3).name("eth0").counters32(4000000000u, 9) << QByteArray("eth0")
            << Q_UINT64_C(4000000000) << Q_UINT64_C(9) << 32;
        QTest::newRow("short 64-bit struct still has the bytes")
            << linkMessage(3).name("eth0").counters64(big, 7, 32) << QByteArray("eth0") << big
            << Q_UINT64_C(7) << 64;
        QTest::newRow("64-bit struct too short to hold them")
            << linkMessage(3).name("eth0").counters32(5, 6).counters64(big, 7, 24)
            << QByteArray("eth0") << Q_UINT64_C(5) << Q_UINT64_C(6) << 32;
        QTest::newRow("no statistics") << linkMessage(3).name("eth0") << QByteArray("eth0")
                                       << Q_UINT64_C(0) << Q_UINT64_C(0) << 64;
        QTest::newRow("damaged tail ignored")
            << linkMessage(3).name("eth0").counters64(big, 7).damaged() << QByteArray("eth0") << big
            << Q_UINT64_C(7) << 64;
        QTest::newRow("name without NUL")
            << linkMessage(3).attr(IFLA_IFNAME, "wlan0", 5) << QByteArray("wlan0") << Q_UINT64_C(0)
            << Q_UINT64_C(0) << 64;
        QTest::newRow("name not UTF-8: the bytes") << linkMessage(3).name("v\xe9"
                                                                          "A")
                                                   << QByteArray("v\xe9"
                                                                 "A")
                                                   << Q_UINT64_C(0) << Q_UINT64_C(0) << 64;
    }
    void link() {
        QFETCH(Payload, payload);
        QFETCH(QByteArray, name);
        QFETCH(quint64, in);
        QFETCH(quint64, out);
        QFETCH(int, bits);
        const auto parsed = NetlinkMessages::parseLink(payload.data(), payload.size());
        QVERIFY(parsed);
        QCOMPARE(parsed->index, 3);
        QCOMPARE(parsed->linkType, quint16(ARPHRD_ETHER));
        QCOMPARE(parsed->name, name);
        QCOMPARE(parsed->inOctets, in);
        QCOMPARE(parsed->outOctets, out);
        QCOMPARE(parsed->counterBits, bits);
    }

    void linkTooShort() {
        const Payload payload = linkMessage(1, ARPHRD_LOOPBACK);
        QVERIFY(!NetlinkMessages::parseLink(payload.data(), payload.size() - 1));
        const auto parsed = NetlinkMessages::parseLink(payload.data(), payload.size());
        QVERIFY(parsed);
        QCOMPARE(parsed->linkType, quint16(ARPHRD_LOOPBACK));
    }

    void linkStats_data() {
        QTest::addColumn<Payload>("payload");
        QTest::addColumn<bool>("valid");
        const quint64 big = Q_UINT64_C(5000000000);
        rtnl_link_stats64 s{};
        s.rx_bytes = big;
        s.tx_bytes = 7;
        QTest::newRow("64-bit link statistics")
            << statsMessage(3).attr(IFLA_STATS_LINK_64, &s, sizeof s) << true;
        QTest::newRow("after another kind of statistics")
            << statsMessage(3)
                   .attr(IFLA_STATS_LINK_XSTATS, "\0\0\0\0", 4)
                   .attr(IFLA_STATS_LINK_64, &s, sizeof s)
            << true;
        QTest::newRow("none asked for came") << statsMessage(3) << false;
        QTest::newRow("struct too short to hold the bytes")
            << statsMessage(3).attr(IFLA_STATS_LINK_64, &s, 24) << false;
    }
    void linkStats() {
        QFETCH(Payload, payload);
        QFETCH(bool, valid);
        const auto stats = NetlinkMessages::parseLinkStats(payload.data(), payload.size());
        QCOMPARE(stats.has_value(), valid);
        if (stats) {
            QCOMPARE(stats->index, 3);
            QCOMPARE(stats->inOctets, Q_UINT64_C(5000000000));
            QCOMPARE(stats->outOctets, Q_UINT64_C(7));
        }
        QVERIFY(!NetlinkMessages::parseLinkStats(payload.data(), sizeof(if_stats_msg) - 1));
    }

    void address_data() {
        QTest::addColumn<Payload>("payload");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("local only")
            << addressMessage(AF_INET, 4).attr(IFA_LOCAL, kLocal, 4) << true << 0x0AC80001u;
        QTest::newRow("address only")
            << addressMessage(AF_INET, 4).attr(IFA_ADDRESS, kLocal, 4) << true << 0x0AC80001u;
        QTest::newRow("point-to-point: local, not the peer")
            << addressMessage(AF_INET, 4).attr(IFA_ADDRESS, kPeer, 4).attr(IFA_LOCAL, kLocal, 4)
            << true << 0x0AC80001u;
        QTest::newRow("no address")
            << addressMessage(AF_INET, 4).attr(IFA_LABEL, "eth0", 5) << false << 0u;
        QTest::newRow("short address")
            << addressMessage(AF_INET, 4).attr(IFA_LOCAL, kLocal, 2) << false << 0u;
        QTest::newRow("IPv6 ignored")
            << addressMessage(AF_INET6, 4).attr(IFA_LOCAL, kLocal, 4) << false << 0u;
    }
    void address() {
        QFETCH(Payload, payload);
        QFETCH(bool, valid);
        QFETCH(quint32, expected);
        const auto row = NetlinkMessages::parseIpv4Address(payload.data(), payload.size());
        QCOMPARE(row.has_value(), valid);
        if (row) {
            QCOMPARE(row->address, expected);
            QCOMPARE(row->index, 4);
        }
    }

    // How far one datagram takes the answer to request 7: the messages handed
    // over (by type) and the verdict.
    void reply_data() {
        const auto link = linkMessage(2).name("eth0");
        const auto r =
            table<Datagram, bool, QString, int>({"datagram", "dump", "handed", "verdict"});
        const int more = int(NetlinkMessages::Reply::More),
                  done = int(NetlinkMessages::Reply::Done),
                  failed = int(NetlinkMessages::Reply::Failed);
        r("dump part", Datagram().message(RTM_NEWLINK, 7, link).message(RTM_NEWLINK, 7, link), true,
          "16 16", more);
        r("dump end", Datagram().message(RTM_NEWLINK, 7, link).message(NLMSG_DONE, 7), true, "16",
          done);
        r("late answer to an older request skipped",
          Datagram().message(RTM_NEWLINK, 6, link).message(NLMSG_DONE, 6), true, "", more);
        r("single reply: its first message",
          Datagram().message(RTM_NEWLINK, 7, link).message(RTM_NEWLINK, 7, link), false, "16",
          done);
        r("acknowledgement", Datagram().error(7, 0), false, "", done);
        r("refused", Datagram().error(7, -ENODEV), false, "", failed);
        r("error inside a dump", Datagram().message(RTM_NEWLINK, 7, link).error(7, 0), true, "16",
          failed);
        r("error without its code", Datagram().message(NLMSG_ERROR, 7), false, "", failed);
        r("length past the end: nothing after it",
          Datagram().message(RTM_NEWLINK, 7, link).message(NLMSG_DONE, 7).lying(4), true, "16",
          more);
        r("length shorter than a header",
          Datagram().message(RTM_NEWLINK, 7, link).lying(quint32(-40)), true, "", more);
        r("cut in the header",
          Datagram().message(RTM_NEWLINK, 7, link).message(NLMSG_DONE, 7).cut(10), true, "16",
          more);
        r("last message without its padding",
          Datagram()
              .message(RTM_NEWLINK, 7, linkMessage(2).attr(IFLA_IFNAME, "e", 1))
              .lying(quint32(-3))
              .cut(3),
          true, "16", more);
    }
    void reply() {
        QFETCH(Datagram, datagram);
        QFETCH(bool, dump);
        QStringList handed;
        const auto verdict = NetlinkMessages::readReply(
            datagram.data(), datagram.size(), 7, dump, [&](const NetlinkMessages::Message &m) {
                QVERIFY(m.payload >= datagram.data() &&
                        m.payload + m.length <= datagram.data() + datagram.size());
                handed << QString::number(m.type);
            });
        QTEST(handed.join(u' '), "handed");
        QTEST(int(verdict), "verdict");
    }

    // The notifications the interface source turns into one "changed".
    void changes_data() {
        const auto r = table<Datagram, QString>({"datagram", "changes"});
        r("link new, link gone, IPv4 address",
          Datagram()
              .message(RTM_NEWLINK, 0, linkMessage(5).name("tun0"))
              .message(RTM_DELLINK, 0,
                       linkMessage(4).name("v\xe9"
                                           "A"))
              .message(RTM_NEWADDR, 0, addressMessage(AF_INET, 5).attr(IFA_LOCAL, kLocal, 4))
              .message(RTM_DELADDR, 0, addressMessage(AF_INET, 5)),
          "new 5 tun0|gone 4 v%E9A|address 5|address 5");
        r("IPv6 addresses and routes are not the list's business",
          Datagram()
              .message(RTM_NEWADDR, 0, addressMessage(AF_INET6, 5))
              .message(RTM_NEWROUTE, 0, addressMessage(AF_INET, 5)),
          "");
        r("too short to say which link",
          Datagram()
              .message(RTM_NEWLINK, 0, Payload(quint32(5)))
              .message(RTM_NEWADDR, 0, Payload(quint16(2))),
          "");
        r("a lying length ends the datagram",
          Datagram()
              .message(RTM_NEWLINK, 0, linkMessage(5).name("a"))
              .message(RTM_NEWLINK, 0, linkMessage(6).name("b"))
              .lying(1),
          "new 5 a");
    }
    void changes() {
        QFETCH(Datagram, datagram);
        QStringList seen;
        for (const auto &c : NetlinkMessages::changes(datagram.data(), datagram.size()))
            seen << (c.kind == NetlinkMessages::Change::LinkNew    ? QStringLiteral("new %1 %2")
                     : c.kind == NetlinkMessages::Change::LinkGone ? QStringLiteral("gone %1 %2")
                                                                   : QStringLiteral("address %1"))
                        .arg(c.index)
                        .arg(QString::fromLatin1(c.name.toPercentEncoding()));
        QTEST(seen.join(u'|'), "changes");
    }
};

QTEST_GUILESS_MAIN(NetlinkMessagesTest)
#include "test_netlink_messages.moc"
