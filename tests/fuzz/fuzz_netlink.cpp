// The decoding of what a NETLINK_ROUTE socket hands over, over any bytes: a
// dump reply, the reply to a single-link request, a datagram of link and
// address notifications, with truncated messages and lengths that lie. The
// reply is awaited with the sequence number of its first message, so that the
// fuzzer reaches the parsers.
#include "FuzzSupport.h"
#include "platform/linux/NetlinkMessages.h"

#include <cstring>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const char *const begin = reinterpret_cast<const char *>(data);
    const QString input = QString::fromLatin1(QByteArray(begin, qsizetype(size)).toHex());
    // Every payload handed on lies inside the input.
    const auto inside = [&](const char *p, std::size_t n) {
        return p >= begin && p <= begin + size && n <= std::size_t(begin + size - p);
    };
    const auto wordAt = [](const char *p, std::size_t offset) {
        qint32 v = 0;
        std::memcpy(&v, p + offset, sizeof v);
        return v;
    };
    const quint32 seq = size >= offsetof(nlmsghdr, nlmsg_seq) + 4
                            ? wordAt(begin, offsetof(nlmsghdr, nlmsg_seq))
                            : 0;
    for (const bool dump : {true, false}) {
        int handed = 0;
        NetlinkMessages::readReply(begin, size, seq, dump, [&](const NetlinkMessages::Message &m) {
            FUZZ_CHECK(inside(m.payload, m.length) && m.seq == seq && m.type != NLMSG_DONE &&
                           m.type != NLMSG_ERROR && (dump || ++handed == 1),
                       input);
            if (m.type == RTM_NEWLINK) {
                const auto link = NetlinkMessages::parseLink(m.payload, m.length);
                FUZZ_CHECK(link.has_value() == (m.length >= NLMSG_ALIGN(sizeof(ifinfomsg))), input);
                FUZZ_CHECK(!link ||
                               (link->index == wordAt(m.payload, offsetof(ifinfomsg, ifi_index)) &&
                                !link->name.contains('\0') &&
                                std::size_t(link->name.size()) < m.length &&
                                (link->counterBits == 64 || link->counterBits == 32)),
                           input);
            } else if (m.type == RTM_NEWADDR) {
                const auto row = NetlinkMessages::parseIpv4Address(m.payload, m.length);
                FUZZ_CHECK(!row ||
                               (m.length >= sizeof(ifaddrmsg) &&
                                row->index == wordAt(m.payload, offsetof(ifaddrmsg, ifa_index))),
                           input);
            }
        });
    }

    // Read as notifications: no more changes than messages, names without NUL.
    std::size_t messages = 0, offset = 0;
    while (const auto m = NetlinkMessages::messageAt(begin, size, offset)) {
        FUZZ_CHECK(inside(m->payload, m->length), input);
        ++messages;
    }
    const auto changes = NetlinkMessages::changes(begin, size);
    FUZZ_CHECK(changes.size() <= messages, input);
    for (const auto &c : changes)
        FUZZ_CHECK(!c.name.contains('\0') &&
                       (c.kind != NetlinkMessages::Change::Address || c.name.isEmpty()),
                   input);
    return 0;
}
