// Decoding of rtnetlink replies and notifications from hand-built bytes:
// what the real kernel here never sends (old kernels' 32-bit statistics,
// point-to-point addresses, damaged attributes, lying lengths, late
// answers). Needs no root.

#include "Netns.h"
#include "platform/linux/NetlinkMessages.h"
#include "support/Table.h"

#include <cstring>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

using namespace NetlinkMessages;

namespace {

// Bytes laid out as the kernel does: a header and attributes, each padded to
// four bytes, or whole messages one after another.
struct Bytes {
    QByteArray b;
    qsizetype last = 0; // where the last message starts

    Bytes &raw(const void *data, std::size_t size) {
        b.append(static_cast<const char *>(data), qsizetype(size));
        b.append((4 - b.size() % 4) % 4, '\0');
        return *this;
    }
    Bytes &attr(quint16 type, const void *data, std::size_t size) {
        const rtattr a{quint16(sizeof(rtattr) + size), type};
        return raw(&a, sizeof a).raw(data, size);
    }
    Bytes &name(const char *text) { return attr(IFLA_IFNAME, text, std::strlen(text) + 1); }
    // Packet counts first, then bytes: the packets must not be taken for bytes.
    Bytes &c64(quint64 in, quint64 out, std::size_t size = sizeof(rtnl_link_stats64)) {
        const quint64 s[sizeof(rtnl_link_stats64) / 8] = {11, 12, in, out};
        return attr(IFLA_STATS64, s, size);
    }
    Bytes &c32(quint32 in, quint32 out) {
        const quint32 s[sizeof(rtnl_link_stats) / 4] = {21, 22, in, out};
        return attr(IFLA_STATS, s, sizeof s);
    }
    Bytes &message(quint16 type, quint32 seq, const Bytes &payload) {
        last = b.size();
        const nlmsghdr h{quint32(NLMSG_HDRLEN + payload.b.size()), type, 0, seq, 0};
        return raw(&h, sizeof h).raw(payload.b.constData(), std::size_t(payload.b.size()));
    }
    Bytes &message(quint16 type, quint32 seq) { return message(type, seq, Bytes()); }
    Bytes &error(quint32 seq, int code) { return message(NLMSG_ERROR, seq, Bytes().raw(&code, 4)); }
    Bytes &lying(qint32 extra) { // the last length off by extra: past the end, or too short
        quint32 length = 0;
        std::memcpy(&length, b.constData() + last, 4);
        length += quint32(extra);
        std::memcpy(b.data() + last, &length, 4);
        return *this;
    }
    Bytes &cut(qsizetype n) {
        b.chop(n);
        return *this;
    }
};

Bytes link(int index) {
    const ifinfomsg h{AF_UNSPEC, 0, ARPHRD_ETHER, index, 0, 0};
    return Bytes().raw(&h, sizeof h);
}
Bytes stats(unsigned index) {
    const if_stats_msg h{AF_UNSPEC, 0, 0, index, 0};
    return Bytes().raw(&h, sizeof h);
}
Bytes address(int family, unsigned index) {
    const ifaddrmsg h{quint8(family), 24, 0, 0, index};
    return Bytes().raw(&h, sizeof h);
}

const unsigned char kLocal[4] = {10, 200, 0, 1};
const quint64 kBig = Q_UINT64_C(5000000000); // past 32 bits
const quint64 kStats64[sizeof(rtnl_link_stats64) / 8] = {1, 2, kBig, 7};

} // namespace

Q_DECLARE_METATYPE(Bytes)

class NetlinkMessagesTest : public QObject {
    Q_OBJECT
private slots:
    // One payload read as a link, as statistics or as an address: what it
    // says, or "none".
    void payload_data() {
        const auto r = table<QString, Bytes, QString>({"as", "payload", "read"});
        r("old kernel: 32-bit only", "link", link(3).c32(4000000000u, 9), "3 1  4000000000 9 32");
        r("64-bit struct just long enough", "link", link(3).c64(kBig, 7, 32),
          "3 1  5000000000 7 64");
        r("64-bit struct too short", "link", link(3).c32(5, 6).c64(kBig, 7, 24), "3 1  5 6 32");
        r("damaged tail: an attribute claiming 200 bytes", "link",
          link(3).name("eth0").c64(kBig, 7).raw("\xc8\0\3\0", 4), "3 1 eth0 5000000000 7 64");
        r("name without NUL", "link", link(3).attr(IFLA_IFNAME, "wlan0", 5), "3 1 wlan0 0 0 64");
        r("link header cut", "link", link(1).cut(1), "none");
        r("after other statistics", "stats",
          stats(3)
              .attr(IFLA_STATS_LINK_XSTATS, "abcd", 4)
              .attr(IFLA_STATS_LINK_64, kStats64, sizeof kStats64),
          "3 5000000000 7");
        r("none asked for came", "stats", stats(3), "none");
        r("too short for the bytes", "stats", stats(3).attr(IFLA_STATS_LINK_64, kStats64, 24),
          "none");
        r("statistics header cut", "stats", stats(3).cut(1), "none");
        r("address only", "address", address(AF_INET, 4).attr(IFA_ADDRESS, kLocal, 4), "4 ac80001");
        r("point-to-point: local, not the peer", "address",
          address(AF_INET, 4).attr(IFA_ADDRESS, "\x0a\xc8\x00\xfe", 4).attr(IFA_LOCAL, kLocal, 4),
          "4 ac80001");
        r("no address", "address", address(AF_INET, 4).attr(IFA_LABEL, "eth0", 5), "none");
        r("short address", "address", address(AF_INET, 4).attr(IFA_LOCAL, kLocal, 2), "none");
        r("IPv6", "address", address(AF_INET6, 4).attr(IFA_LOCAL, kLocal, 4), "none");
        r("address header cut", "address", address(AF_INET, 4).cut(1), "none");
    }
    void payload() {
        QFETCH(QString, as);
        QFETCH(Bytes, payload);
        const char *data = payload.b.constData();
        const auto size = std::size_t(payload.b.size());
        QString read = QStringLiteral("none");
        if (const auto l = as == "link" ? parseLink(data, size) : std::nullopt)
            read = words(l->index, l->linkType, l->name, l->inOctets, l->outOctets, l->counterBits);
        if (const auto s = as == "stats" ? parseLinkStats(data, size) : std::nullopt)
            read = words(s->index, s->inOctets, s->outOctets);
        if (const auto a = as == "address" ? parseIpv4Address(data, size) : std::nullopt)
            read = words(a->index, QString::number(a->address, 16));
        QTEST(read, "read");
    }

    // How far one datagram takes the answer to request 7: the types of the
    // messages handed over, and the verdict (0 more to come, 1 done, 2 failed).
    void reply_data() {
        const Bytes l = link(2).name("eth0");
        const quint16 nl = RTM_NEWLINK, end = NLMSG_DONE;
        const auto r = table<Bytes, bool, QString, int>({"datagram", "dump", "handed", "verdict"});
        r("dump end", Bytes().message(nl, 7, l).message(end, 7), true, "16", 1);
        r("late answer skipped", Bytes().message(nl, 6, l).message(end, 6), true, "", 0);
        r("acknowledgement", Bytes().error(7, 0), false, "", 1);
        r("error inside a dump", Bytes().message(nl, 7, l).error(7, 0), true, "16", 2);
        r("error without its code", Bytes().message(NLMSG_ERROR, 7), false, "", 2);
        r("length past the end", Bytes().message(nl, 7, l).message(end, 7).lying(4), true, "16", 0);
        r("length shorter than a header", Bytes().message(nl, 7, l).lying(-40), true, "", 0);
        r("cut in the header", Bytes().message(nl, 7, l).message(end, 7).cut(10), true, "16", 0);
        r("last message without its padding",
          Bytes().message(nl, 7, link(2).attr(IFLA_IFNAME, "e", 1)).lying(-3).cut(3), true, "16",
          0);
    }
    void reply() {
        QFETCH(Bytes, datagram);
        QFETCH(bool, dump);
        const char *data = datagram.b.constData();
        const auto size = std::size_t(datagram.b.size());
        QStringList handed;
        const auto verdict = readReply(data, size, 7, dump, [&](const auto &m) {
            QVERIFY(m.payload >= data && m.payload + m.length <= data + size);
            handed << QString::number(m.type);
        });
        QTEST(handed.join(u' '), "handed");
        QTEST(int(verdict), "verdict");
    }

    // The notifications the interface source turns into one "changed":
    // kind (0 new link, 1 link gone, 2 address), index, name.
    void changes_data() {
        const quint16 nl = RTM_NEWLINK, dl = RTM_DELLINK, na = RTM_NEWADDR, da = RTM_DELADDR;
        const Bytes a = address(AF_INET, 5);
        const auto r = table<Bytes, QString>({"datagram", "changes"});
        r("link new, link gone, IPv4 address",
          Bytes()
              .message(nl, 0, link(5).name("tun0"))
              .message(dl, 0, link(4).name("eth1"))
              .message(na, 0, a)
              .message(da, 0, a),
          "0 5 tun0|1 4 eth1|2 5 |2 5 ");
        r("IPv6 addresses and routes: none",
          Bytes().message(na, 0, address(AF_INET6, 5)).message(RTM_NEWROUTE, 0, a), "");
        r("too short to say which link",
          Bytes().message(nl, 0, link(5).cut(1)).message(na, 0, Bytes(a).cut(1)), "");
        r("a lying length ends the datagram",
          Bytes().message(nl, 0, link(5).name("a")).message(dl, 0, link(6)).lying(1), "0 5 a");
    }
    void changes() {
        QFETCH(Bytes, datagram);
        QStringList seen;
        for (const auto &c :
             NetlinkMessages::changes(datagram.b.constData(), std::size_t(datagram.b.size())))
            seen << words(int(c.kind), c.index, c.name);
        QTEST(seen.join(u'|'), "changes");
    }
};

QTEST_GUILESS_MAIN(NetlinkMessagesTest)
#include "test_netlink_messages.moc"
