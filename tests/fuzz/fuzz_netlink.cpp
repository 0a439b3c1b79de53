// NETLINK_ROUTE decoding of any bytes as a dump reply, a single-link reply and notifications.
// The reply is awaited under its first message's sequence number, so the parsers are reached.
#include "FuzzSupport.h"
#include "platform/linux/NetlinkMessages.h"

#include <QtEndian>
#include <linux/rtnetlink.h>

using namespace NetlinkMessages;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const char *const begin = reinterpret_cast<const char *>(data);
    const QString input = QString::fromLatin1(QByteArray(begin, qsizetype(size)).toHex());
    // Every payload handed on lies inside the input.
    const auto inside = [&](const char *p, std::size_t n) {
        return p >= begin && p <= begin + size && n <= std::size_t(begin + size - p);
    };
    const std::size_t seqAt = offsetof(nlmsghdr, nlmsg_seq);
    const quint32 seq = size >= seqAt + 4 ? qFromUnaligned<quint32>(begin + seqAt) : 0;
    for (const bool dump : {true, false}) {
        int handed = 0;
        readReply(begin, size, seq, dump, [&](const Message &m) {
            FUZZ_CHECK(inside(m.payload, m.length) && m.seq == seq && m.type != NLMSG_DONE &&
                       m.type != NLMSG_ERROR && (dump || ++handed == 1));
            if (m.type == RTM_NEWLINK) {
                const auto link = parseLink(m.payload, m.length);
                FUZZ_CHECK(link.has_value() == (m.length >= NLMSG_ALIGN(sizeof(ifinfomsg))));
                const std::size_t at = offsetof(ifinfomsg, ifi_index);
                FUZZ_CHECK(!link || (link->index == qFromUnaligned<qint32>(m.payload + at) &&
                                     !link->name.contains('\0') &&
                                     std::size_t(link->name.size()) < m.length &&
                                     (link->counterBits == 64 || link->counterBits == 32)));
            } else if (m.type == RTM_NEWADDR) {
                const auto row = parseIpv4Address(m.payload, m.length);
                FUZZ_CHECK(!row || (m.length >= sizeof(ifaddrmsg) &&
                                    row->index == qFromUnaligned<qint32>(
                                                      m.payload + offsetof(ifaddrmsg, ifa_index))));
            }
        });
    }
    // As notifications: no more changes than messages, names without NUL.
    std::size_t messages = 0, offset = 0;
    for (; const auto m = messageAt(begin, size, offset); ++messages)
        FUZZ_CHECK(inside(m->payload, m->length));
    const auto found = changes(begin, size);
    FUZZ_CHECK(found.size() <= messages);
    for (const auto &c : found)
        FUZZ_CHECK(!c.name.contains('\0') && (c.kind != Change::Address || c.name.isEmpty()));
    return 0;
}
