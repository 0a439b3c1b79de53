#pragma once

#include "adapters/InterfaceSource.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

// Decoding of what the kernel sends on a NETLINK_ROUTE socket: the replies
// the interface source asks for and the notifications it listens to. Pure
// functions over received bytes, so malformed and old-kernel messages can be
// tested (and fuzzed) without a kernel. Nothing here trusts a length field:
// every message and attribute is checked against the bytes that are there.
namespace NetlinkMessages {

// What one RTM_NEWLINK (or RTM_DELLINK) message says about an interface.
struct Link {
    qint32 index = 0;
    quint16 linkType = 0; // ARPHRD_*
    QByteArray name;      // the kernel's bytes, up to the first NUL; any encoding
    quint64 inOctets = 0;
    quint64 outOctets = 0;
    int counterBits = 64; // 32 when the kernel gave only the old 32-bit stats
};

// nullopt when the payload is too short to be a link message.
std::optional<Link> parseLink(const char *payload, std::size_t length);

// The byte counters of one RTM_NEWSTATS message that was asked for with the
// 64-bit link statistics only.
struct LinkStats {
    qint32 index = 0;
    quint64 inOctets = 0;
    quint64 outOctets = 0;
};

// nullopt when the payload is too short or carries no 64-bit link statistics.
std::optional<LinkStats> parseLinkStats(const char *payload, std::size_t length);

// The IPv4 address of one RTM_NEWADDR message: the interface's own address
// (IFA_LOCAL), or IFA_ADDRESS where that is missing. nullopt for other
// families and malformed messages.
std::optional<AddressRow> parseIpv4Address(const char *payload, std::size_t length);

// One message of a received datagram.
struct Message {
    quint16 type = 0;
    quint32 seq = 0;
    const char *payload = nullptr; // the bytes after the netlink header
    std::size_t length = 0;        // of the payload
};

// The message at offset in a datagram of length bytes, moving offset past it;
// nullopt when no whole message starts there (the rest is then unusable:
// its length field cannot be trusted to find the next one).
std::optional<Message> messageAt(const char *data, std::size_t length, std::size_t &offset);

// How far one datagram took an answer to request seq.
enum class Reply {
    More,   // the answer goes on in the next datagram
    Done,   // complete (a dump's end, an acknowledgement, a single reply)
    Failed, // the kernel refused the request
};

// Hands every message of the datagram that answers seq to handler, in order.
// Messages for other sequence numbers (late answers to requests that timed
// out) are skipped. A request that is not a dump is answered by its first
// message.
Reply readReply(const char *data, std::size_t length, quint32 seq, bool dump,
                const std::function<void(const Message &)> &handler);

// One notification about the interface list.
struct Change {
    enum Kind { LinkNew, LinkGone, Address } kind = LinkNew;
    qint32 index = 0;
    QByteArray name; // the link's name; empty for address changes
    Link link;       // all the message said of a link (its counters as it went, for LinkGone)
};

// The link and IPv4 address notifications in one datagram of the multicast
// groups, in order; everything else (and whatever does not parse) is left out.
std::vector<Change> changes(const char *data, std::size_t length);

} // namespace NetlinkMessages
