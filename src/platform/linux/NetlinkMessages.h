#pragma once

#include "adapters/InterfaceSource.h"

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <optional>

// Decoding of the rtnetlink replies the interface source reads. Pure
// functions over message payloads (the bytes after the netlink header), so
// malformed and old-kernel messages can be tested without a kernel.
namespace NetlinkMessages {

// What one RTM_NEWLINK message says about an interface.
struct Link {
    qint32 index = 0;
    quint16 linkType = 0; // ARPHRD_*
    QString name;
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

} // namespace NetlinkMessages
