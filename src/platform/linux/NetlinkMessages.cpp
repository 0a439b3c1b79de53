#include "platform/linux/NetlinkMessages.h"

#include <cerrno>
#include <cstring>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace NetlinkMessages {

namespace {

constexpr std::size_t align4(std::size_t n) {
    return (n + 3) & ~std::size_t(3);
}

// Walks the attributes in [data, data + length), calling f(type, payload,
// payloadLength) for each well-formed one and stopping at the first that is
// not. Headers are copied out, so the buffer's alignment does not matter.
template <typename F> void forEachAttribute(const char *data, std::size_t length, F f) {
    std::size_t offset = 0;
    while (offset + sizeof(rtattr) <= length) {
        rtattr attr;
        std::memcpy(&attr, data + offset, sizeof attr);
        if (attr.rta_len < sizeof(rtattr) || attr.rta_len > length - offset)
            return;
        f(quint16(attr.rta_type & NLA_TYPE_MASK), data + offset + sizeof(rtattr),
          std::size_t(attr.rta_len) - sizeof(rtattr));
        offset += align4(attr.rta_len);
    }
}

// The first two 64-bit (or 32-bit) fields are the packet counts, the next
// two the byte counts; older kernels send shorter structs, but never shorter
// than that.
template <typename Word>
bool byteCounters(const char *data, std::size_t size, quint64 &in, quint64 &out) {
    if (size < 4 * sizeof(Word))
        return false;
    Word words[4];
    std::memcpy(words, data, sizeof words);
    in = words[2];
    out = words[3];
    return true;
}

} // namespace

std::optional<Link> parseLink(const char *payload, std::size_t length) {
    const std::size_t header = align4(sizeof(ifinfomsg));
    if (length < header)
        return std::nullopt;
    ifinfomsg info;
    std::memcpy(&info, payload, sizeof info);

    Link link;
    link.index = info.ifi_index;
    link.linkType = info.ifi_type;
    bool have64 = false;
    bool have32 = false;
    quint64 in32 = 0;
    quint64 out32 = 0;
    forEachAttribute(
        payload + header, length - header, [&](quint16 type, const char *data, std::size_t size) {
            if (type == IFLA_IFNAME)
                link.name = QByteArray(data, qsizetype(strnlen(data, size)));
            else if (type == IFLA_STATS64)
                have64 = byteCounters<quint64>(data, size, link.inOctets, link.outOctets) || have64;
            else if (type == IFLA_STATS)
                have32 = byteCounters<quint32>(data, size, in32, out32) || have32;
        });
    if (!have64 && have32) {
        link.inOctets = in32;
        link.outOctets = out32;
        link.counterBits = 32;
    }
    return link;
}

std::optional<LinkStats> parseLinkStats(const char *payload, std::size_t length) {
    const std::size_t header = align4(sizeof(if_stats_msg));
    if (length < header)
        return std::nullopt;
    if_stats_msg info;
    std::memcpy(&info, payload, sizeof info);

    LinkStats stats;
    stats.index = qint32(info.ifindex);
    bool have64 = false;
    forEachAttribute(
        payload + header, length - header, [&](quint16 type, const char *data, std::size_t size) {
            if (type == IFLA_STATS_LINK_64)
                have64 =
                    byteCounters<quint64>(data, size, stats.inOctets, stats.outOctets) || have64;
        });
    if (!have64)
        return std::nullopt;
    return stats;
}

std::optional<AddressRow> parseIpv4Address(const char *payload, std::size_t length) {
    const std::size_t header = align4(sizeof(ifaddrmsg));
    if (length < header)
        return std::nullopt;
    ifaddrmsg info;
    std::memcpy(&info, payload, sizeof info);
    if (info.ifa_family != AF_INET)
        return std::nullopt;

    // On point-to-point links IFA_ADDRESS is the peer's address; IFA_LOCAL is
    // always the interface's own, so it wins when both are there.
    const unsigned char *local = nullptr;
    const unsigned char *address = nullptr;
    forEachAttribute(payload + header, length - header,
                     [&](quint16 type, const char *data, std::size_t size) {
                         if (size < 4)
                             return;
                         const auto *bytes = reinterpret_cast<const unsigned char *>(data);
                         if (type == IFA_LOCAL)
                             local = bytes;
                         else if (type == IFA_ADDRESS)
                             address = bytes;
                     });
    const unsigned char *bytes = local ? local : address;
    if (!bytes)
        return std::nullopt;
    AddressRow row;
    row.address = quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 |
                  quint32(bytes[3]);
    row.index = qint32(info.ifa_index);
    return row;
}

std::optional<Message> messageAt(const char *data, std::size_t length, std::size_t &offset) {
    if (offset > length || length - offset < sizeof(nlmsghdr))
        return std::nullopt;
    nlmsghdr header;
    std::memcpy(&header, data + offset, sizeof header);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > length - offset)
        return std::nullopt;
    Message message;
    message.type = header.nlmsg_type;
    message.seq = header.nlmsg_seq;
    message.payload = data + offset + align4(sizeof(nlmsghdr));
    message.length = header.nlmsg_len - align4(sizeof(nlmsghdr));
    // The last message may lack its padding; the next offset then lies past
    // the end, where no message starts.
    offset += align4(header.nlmsg_len);
    return message;
}

Reply readReply(const char *data, std::size_t length, quint32 seq, bool dump,
                const std::function<void(const Message &)> &handler) {
    std::size_t offset = 0;
    while (const auto message = messageAt(data, length, offset)) {
        if (message->seq != seq)
            continue;
        if (message->type == NLMSG_DONE)
            return Reply::Done;
        if (message->type == NLMSG_ERROR) {
            int error = -EIO;
            if (message->length >= sizeof(int))
                std::memcpy(&error, message->payload, sizeof error);
            return error == 0 && !dump ? Reply::Done : Reply::Failed; // 0: an acknowledgement
        }
        handler(*message);
        if (!dump)
            return Reply::Done;
    }
    return Reply::More;
}

std::vector<Change> changes(const char *data, std::size_t length) {
    std::vector<Change> found;
    std::size_t offset = 0;
    while (const auto message = messageAt(data, length, offset)) {
        if (message->type == RTM_NEWLINK || message->type == RTM_DELLINK) {
            if (auto link = parseLink(message->payload, message->length))
                found.push_back({message->type == RTM_NEWLINK ? Change::LinkNew : Change::LinkGone,
                                 link->index, link->name, *link});
        } else if (message->type == RTM_NEWADDR || message->type == RTM_DELADDR) {
            if (message->length < sizeof(ifaddrmsg))
                continue;
            ifaddrmsg info;
            std::memcpy(&info, message->payload, sizeof info);
            if (info.ifa_family == AF_INET)
                found.push_back({Change::Address, qint32(info.ifa_index), QByteArray(), {}});
        }
    }
    return found;
}

} // namespace NetlinkMessages
