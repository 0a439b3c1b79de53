// The decoding of what a NETLINK_ROUTE socket hands over, over any bytes: a
// dump reply, the reply to a single-link request, a datagram of link and
// address notifications, with truncated messages and lengths that lie. The
// reply is read for the sequence number of its first message, so that the
// fuzzer reaches the parsers; a datagram is read both as a dump and as a
// single reply, and as notifications.
#include "FuzzSupport.h"
#include "platform/linux/NetlinkMessages.h"

#include <cstring>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

namespace {

struct Input {
    const char *data;
    std::size_t size;
    QString text() const { return QString::fromLatin1(QByteArray(data, qsizetype(size)).toHex()); }
};

bool within(const Input &in, const char *p, std::size_t n) {
    return p >= in.data && p <= in.data + in.size && n <= std::size_t(in.data + in.size - p);
}

qint32 wordAt(const char *p, std::size_t offset) {
    qint32 v = 0;
    std::memcpy(&v, p + offset, sizeof v);
    return v;
}

void checkLink(const Input &in, const char *payload, std::size_t length) {
    const auto link = NetlinkMessages::parseLink(payload, length);
    FUZZ_CHECK(link.has_value() == (length >= NLMSG_ALIGN(sizeof(ifinfomsg))), in.text(),
               QString::number(length));
    if (!link)
        return;
    FUZZ_CHECK(link->index == wordAt(payload, offsetof(ifinfomsg, ifi_index)), in.text(),
               QString::number(link->index));
    FUZZ_CHECK(!link->name.contains('\0') && std::size_t(link->name.size()) < length, in.text(),
               QString::fromLatin1(link->name.toHex()));
    FUZZ_CHECK(link->counterBits == 64 || link->counterBits == 32, in.text(), QString());
}

void checkAddress(const Input &in, const char *payload, std::size_t length) {
    const auto row = NetlinkMessages::parseIpv4Address(payload, length);
    if (row)
        FUZZ_CHECK(length >= sizeof(ifaddrmsg) &&
                       row->index == wordAt(payload, offsetof(ifaddrmsg, ifa_index)),
                   in.text(), QString::number(row->index));
}

void readAsReply(const Input &in, quint32 seq, bool dump) {
    int handed = 0;
    NetlinkMessages::readReply(in.data, in.size, seq, dump, [&](const NetlinkMessages::Message &m) {
        FUZZ_CHECK(within(in, m.payload, m.length), in.text(), QString::number(m.length));
        FUZZ_CHECK(m.seq == seq && m.type != NLMSG_DONE && m.type != NLMSG_ERROR, in.text(),
                   QString::number(m.type));
        ++handed;
        FUZZ_CHECK(dump || handed == 1, in.text(), QString::number(handed));
        if (m.type == RTM_NEWLINK)
            checkLink(in, m.payload, m.length);
        else if (m.type == RTM_NEWADDR)
            checkAddress(in, m.payload, m.length);
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const Input in{reinterpret_cast<const char *>(data), size};
    quint32 seq = 0;
    if (size >= offsetof(nlmsghdr, nlmsg_seq) + sizeof seq)
        std::memcpy(&seq, in.data + offsetof(nlmsghdr, nlmsg_seq), sizeof seq);
    readAsReply(in, seq, true);
    readAsReply(in, seq, false);

    std::size_t messages = 0;
    std::size_t offset = 0;
    while (const auto m = NetlinkMessages::messageAt(in.data, in.size, offset)) {
        FUZZ_CHECK(within(in, m->payload, m->length), in.text(), QString::number(offset));
        ++messages;
    }
    const auto changes = NetlinkMessages::changes(in.data, in.size);
    FUZZ_CHECK(changes.size() <= messages, in.text(), QString::number(changes.size()));
    for (const auto &c : changes)
        FUZZ_CHECK(!c.name.contains('\0') &&
                       (c.kind != NetlinkMessages::Change::Address || c.name.isEmpty()),
                   in.text(), QString::fromLatin1(c.name.toHex()));
    return 0;
}
