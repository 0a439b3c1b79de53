// Rtnetlink messages the kernel here never sends (old kernels' statistics,
// point-to-point addresses, late answers); damaged ones are the fuzz target's.

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
    template <typename W>
    Bytes &counters(quint16 type, W in, W out, std::size_t size = sizeof(rtnl_link_stats64)) {
        const W s[sizeof(rtnl_link_stats64) / sizeof(W)] = {11, 12, in, out};
        return attr(type, s, size);
    }
    Bytes &message(quint16 type, quint32 seq, const Bytes &payload = Bytes()) {
        const nlmsghdr h{quint32(NLMSG_HDRLEN + payload.b.size()), type, 0, seq, 0};
        return raw(&h, sizeof h).raw(payload.b.constData(), std::size_t(payload.b.size()));
    }
    Bytes &error(quint32 seq, int code) { return message(NLMSG_ERROR, seq, Bytes().raw(&code, 4)); }
};

const auto head = [](const auto &h) { return Bytes().raw(&h, sizeof h); };
const auto ifinfo = [](int i) { return head(ifinfomsg{AF_UNSPEC, 0, ARPHRD_ETHER, i, 0, 0}); };
const auto addrMessage = [](int family) { return head(ifaddrmsg{quint8(family), 24, 0, 0, 4}); };

const unsigned char kLocal[4] = {10, 200, 0, 1};
const quint64 kBig = Q_UINT64_C(5000000000); // past 32 bits
const quint16 kS64 = IFLA_STATS64, kS32 = IFLA_STATS, kLink64 = IFLA_STATS_LINK_64;

} // namespace

Q_DECLARE_METATYPE(Bytes)

class NetlinkMessagesTest : public QObject {
    Q_OBJECT
private slots:
    // One payload read as a link, as statistics or as an address: what it
    // says, or "none".
    void payload_data() {
        const Bytes stats = head(if_stats_msg{AF_UNSPEC, 0, 0, 3, 0});
        const auto r = table<QString, Bytes, QString>({"as", "payload", "read"});
        r("old kernel: 32-bit only", "link", ifinfo(3).counters<quint32>(kS32, 4000000000u, 9),
          "3 1  4000000000 9 32");
        r("64-bit struct just long enough", "link", ifinfo(3).counters(kS64, kBig, 7ull, 32),
          "3 1  5000000000 7 64");
        r("64-bit struct too short", "link",
          ifinfo(3).counters<quint32>(kS32, 5, 6).counters(kS64, kBig, 7ull, 24), "3 1  5 6 32");
        r("damaged tail: an attribute claiming 200 bytes", "link",
          ifinfo(3).name("eth0").counters(kS64, kBig, 7ull).raw("\xc8\0\3\0", 4),
          "3 1 eth0 5000000000 7 64");
        r("after other statistics", "stats",
          Bytes(stats).attr(IFLA_STATS_LINK_XSTATS, "abcd", 4).counters(kLink64, kBig, 7ull),
          "3 5000000000 7");
        r("none asked for came", "stats", stats, "none");
        r("too short for the bytes", "stats", Bytes(stats).counters(kLink64, kBig, 7ull, 24),
          "none");
        r("address only", "address", addrMessage(AF_INET).attr(IFA_ADDRESS, kLocal, 4),
          "4 ac80001");
        r("point-to-point: local, not the peer", "address",
          addrMessage(AF_INET).attr(IFA_ADDRESS, "\x0a\xc8\x00\xfe", 4).attr(IFA_LOCAL, kLocal, 4),
          "4 ac80001");
        r("IPv6", "address", addrMessage(AF_INET6).attr(IFA_LOCAL, kLocal, 4), "none");
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

    // One datagram read as the answer to request 7 (the types of the messages
    // handed over, and the verdict: 0 more to come, 1 done, 2 failed), and as
    // the notifications the interface source turns into one "changed" (kind:
    // 0 new link, 1 link gone, 2 address; index; name).
    void datagram_data() {
        const Bytes l = ifinfo(2).name("eth0"), a = addrMessage(AF_INET);
        const quint16 nl = RTM_NEWLINK, na = RTM_NEWADDR, end = NLMSG_DONE;
        const auto r = table<Bytes, bool, QString>({"datagram", "dump", "read"});
        r("dump end", Bytes().message(nl, 7, l).message(end, 7), true, "16 1|0 2 eth0");
        r("late answer skipped", Bytes().message(nl, 6, l).message(end, 6), true, " 0|0 2 eth0");
        r("acknowledgement", Bytes().error(7, 0), false, " 1");
        r("error inside a dump", Bytes().message(nl, 7, l).error(7, 0), true, "16 2|0 2 eth0");
        r("link gone, IPv4 address",
          Bytes()
              .message(RTM_DELLINK, 0, ifinfo(4).name("eth1"))
              .message(na, 0, a)
              .message(RTM_DELADDR, 0, a),
          true, " 0|1 4 eth1|2 4 |2 4 ");
        r("IPv6 addresses and routes: none",
          Bytes().message(na, 0, addrMessage(AF_INET6)).message(RTM_NEWROUTE, 0, a), true, " 0");
    }
    void datagram() {
        const Bytes d = cell<Bytes>("datagram");
        const auto size = std::size_t(d.b.size());
        QStringList handed, read;
        const auto verdict = readReply(d.b.constData(), size, 7, cell<bool>("dump"),
                                       [&](const auto &m) { handed << QString::number(m.type); });
        read << words(handed.join(u' '), int(verdict));
        for (const auto &c : changes(d.b.constData(), size))
            read << words(int(c.kind), c.index, c.name);
        QTEST(read.join(u'|'), "read");
    }
};

QTEST_GUILESS_MAIN(NetlinkMessagesTest)
#include "test_netlink_messages.moc"
