#include "platform/linux/NetlinkInterfaceSource.h"

#include "adapters/AdapterText.h"
#include "platform/linux/NetlinkMessages.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <linux/if.h>
#include <linux/if_addr.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Large enough for any one reply message: the kernel fills a dump message
// up to 32 KB, and a single link reply without VF details is about 1.5 KB.
constexpr std::size_t kBufferSize = 64 * 1024;

// The directory of a device in sysfs, or empty for a name that cannot be one.
// Built from the kernel's own bytes: a name that is not UTF-8 (the kernel
// allows any byte but '/', ':', blanks and NUL) names its directory only so.
std::string sysfsDir(const QByteArray &name) {
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/'))
        return std::string();
    return "/sys/class/net/" + name.toStdString();
}

bool isWireless(const std::string &dir) {
    return !dir.empty() && (::access((dir + "/wireless").c_str(), F_OK) == 0 ||
                            ::access((dir + "/phy80211").c_str(), F_OK) == 0);
}

// Link speed in bit/s from sysfs, where the kernel gives Mbit/s. Virtual
// links read -1 or fail; a link that is down fails too. All of those are 0.
quint64 linkSpeed(const std::string &dir) {
    if (dir.empty())
        return 0;
    const int fd = ::open((dir + "/speed").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    char *end = nullptr;
    errno = 0;
    const long long mbits = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || mbits <= 0 ||
        quint64(mbits) > std::numeric_limits<quint64>::max() / 1000000)
        return 0;
    return quint64(mbits) * 1000000;
}

// Fills row from one parsed link message. The wireless check and the speed
// cost file-system reads, so they come only with full detail.
void linkRow(const NetlinkMessages::Link *link, bool full, InterfaceRow &row) {
    InterfaceRow out;
    out.index = link->index;
    out.name = link->name;
    // Shown with every byte that is not UTF-8 replaced (U+FFFD).
    out.description = QString::fromUtf8(link->name);
    out.inOctets = link->inOctets;
    out.outOctets = link->outOctets;
    out.counterBits = link->counterBits;
    const std::string dir = full ? sysfsDir(out.name) : std::string();
    out.type = AdapterText::interfaceTypeForLinkType(
        link->linkType, link->linkType == ARPHRD_ETHER && isWireless(dir));
    out.speed = full ? linkSpeed(dir) : 0;
    row = std::move(out);
}

bool linkRow(const char *payload, std::size_t length, bool full, InterfaceRow &row) {
    const auto link = NetlinkMessages::parseLink(payload, length);
    if (link)
        linkRow(&*link, full, row);
    return link.has_value();
}

struct LinkRequest {
    nlmsghdr header;
    ifinfomsg info;
};

struct StatsRequest {
    nlmsghdr header;
    if_stats_msg info;
};

struct AddressRequest {
    nlmsghdr header;
    ifaddrmsg info;
};

} // namespace

NetlinkInterfaceSource::NetlinkInterfaceSource() : buffer_(kBufferSize) {
    open();
}

NetlinkInterfaceSource::~NetlinkInterfaceSource() {
    closeEvents();
    close();
}

bool NetlinkInterfaceSource::open() {
    if (fd_ >= 0)
        return true;
    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0)
        return false;
    // A reply that never comes must not hang the window.
    timeval timeout{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd_, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        close();
        return false;
    }
    return true;
}

void NetlinkInterfaceSource::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

NetlinkInterfaceSource::Outcome NetlinkInterfaceSource::exchange(nlmsghdr &request, bool dump,
                                                                 const Handler &handler) {
    if (!open())
        return Outcome::SocketError;
    Outcome outcome = exchangeOnce(request, dump, handler);
    if (outcome == Outcome::SocketError) {
        close();
        if (open())
            outcome = exchangeOnce(request, dump, handler);
    }
    return outcome;
}

NetlinkInterfaceSource::Outcome NetlinkInterfaceSource::exchangeOnce(nlmsghdr &request, bool dump,
                                                                     const Handler &handler) {
    request.nlmsg_seq = ++seq_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t sent = ::sendto(fd_, &request, request.nlmsg_len, 0,
                                      reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel);
        if (sent == ssize_t(request.nlmsg_len))
            break;
        if (sent < 0 && errno == EINTR)
            continue;
        return Outcome::SocketError;
    }

    bool damaged = false; // a dump message did not fit: finish the dump, then fail
    for (;;) {
        iovec part{buffer_.data(), buffer_.size()};
        sockaddr_nl from{};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(fd_, &message, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return Outcome::SocketError;
        if (from.nl_pid != 0)
            continue; // only the kernel answers requests
        if (message.msg_flags & MSG_TRUNC) {
            if (!dump)
                return Outcome::KernelError;
            damaged = true;
        }
        const auto reply =
            NetlinkMessages::readReply(buffer_.data(), std::size_t(received), request.nlmsg_seq,
                                       dump, [&](const NetlinkMessages::Message &m) {
                                           if (!damaged)
                                               handler(m.type, m.payload, m.length);
                                       });
        if (reply == NetlinkMessages::Reply::Failed)
            return Outcome::KernelError;
        if (reply == NetlinkMessages::Reply::Done)
            return damaged ? Outcome::KernelError : Outcome::Ok;
    }
}

TableResult NetlinkInterfaceSource::interfaceTable(std::vector<InterfaceRow> &rows) {
    rows.clear();
    if (!open())
        return TableResult::NotSupported;

    LinkRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.info.ifi_family = AF_UNSPEC;

    std::vector<InterfaceRow> found;
    const Outcome outcome =
        exchange(request.header, true, [&](quint16 type, const char *payload, std::size_t length) {
            // No sysfs reads here: with a thousand links they would cost
            // most of a list rebuild, and the list shows only names.
            InterfaceRow row;
            if (type == RTM_NEWLINK && linkRow(payload, length, false, row))
                found.push_back(std::move(row));
        });
    if (outcome == Outcome::Ok) {
        rows = std::move(found);
        return TableResult::Ok;
    }
    return fd_ < 0 ? TableResult::NotSupported : TableResult::Failed;
}

bool NetlinkInterfaceSource::interfaceRow(qint32 index, InterfaceRow &row, Detail detail) {
    row = InterfaceRow{};
    row.index = index;
    if (index <= 0)
        return false;
    Outcome statsOutcome = Outcome::Ok;
    if (detail != Detail::Full && statsRequests_) {
        statsOutcome = countersRow(index, row, detail == Detail::Counters);
        if (statsOutcome == Outcome::Ok)
            return true;
    }

    LinkRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.info.ifi_family = AF_UNSPEC;
    request.info.ifi_index = index;

    bool found = false;
    InterfaceRow out;
    const Outcome outcome =
        exchange(request.header, false, [&](quint16 type, const char *payload, std::size_t length) {
            if (type == RTM_NEWLINK && linkRow(payload, length, detail == Detail::Full, out) &&
                out.index == index)
                found = true;
        });
    if (outcome != Outcome::Ok || !found)
        return false;
    // The link is there, so the kernel turned the statistics request down
    // because it does not know it (before Linux 4.7): ask for whole links
    // from now on.
    if (statsOutcome == Outcome::KernelError)
        statsRequests_ = false;
    row = std::move(out);
    return true;
}

// The sampler's read, every tick: a whole link message is about 1.5 KB that
// the kernel fills with every attribute of the link (its address-family
// settings above all), which costs it more than everything else in a tick
// hidden in the tray. The statistics request asks for the 64-bit counters
// alone, and the name comes from the index by ioctl.
NetlinkInterfaceSource::Outcome NetlinkInterfaceSource::countersRow(qint32 index, InterfaceRow &row,
                                                                    bool named) {
    StatsRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETSTATS;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.info.family = AF_UNSPEC;
    request.info.ifindex = quint32(index);
    request.info.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);

    std::optional<NetlinkMessages::LinkStats> stats;
    const Outcome outcome =
        exchange(request.header, false, [&](quint16 type, const char *payload, std::size_t length) {
            if (type == RTM_NEWSTATS)
                stats = NetlinkMessages::parseLinkStats(payload, length);
        });
    if (outcome != Outcome::Ok)
        return outcome;
    if (!stats || stats->index != index)
        return Outcome::KernelError;

    // While the notification socket listens, a rename (or another link under
    // the index) is heard there before the next tick, since the event loop
    // reads notifications ahead of timers in the same turn: the name is asked
    // for only then, and a tick costs two system calls, not three.
    if (named && (index != countedIndex_ || !countedNameHeld_)) {
        ifreq name{};
        name.ifr_ifindex = index;
        if (::ioctl(fd_, SIOCGIFNAME, &name) != 0)
            return Outcome::SocketError; // gone since the statistics came
        const QByteArrayView kernelName(name.ifr_name, qsizetype(strnlen(name.ifr_name, IFNAMSIZ)));
        if (kernelName != countedName_) {
            countedName_ = kernelName.toByteArray();
            countedDescription_ = QString::fromUtf8(countedName_);
        }
        countedIndex_ = index;
        countedNameHeld_ = eventFd_ >= 0;
    }
    if (named) {
        row.name = countedName_;
        row.description = countedDescription_;
    }
    row.inOctets = stats->inOctets;
    row.outOctets = stats->outOctets;
    row.counterBits = 64;
    return Outcome::Ok;
}

bool NetlinkInterfaceSource::addressTable(std::vector<AddressRow> &rows) {
    rows.clear();
    AddressRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.info.ifa_family = AF_INET;

    std::vector<AddressRow> found;
    const Outcome outcome =
        exchange(request.header, true, [&](quint16 type, const char *payload, std::size_t length) {
            if (type != RTM_NEWADDR)
                return;
            if (const auto row = NetlinkMessages::parseIpv4Address(payload, length))
                found.push_back(*row);
        });
    if (outcome != Outcome::Ok)
        return false;
    std::stable_sort(found.begin(), found.end(), [](const AddressRow &a, const AddressRow &b) {
        return a.address < b.address;
    });
    rows = std::move(found);
    return true;
}

bool NetlinkInterfaceSource::watch(std::function<void()> onChanged) {
    onChanged_ = std::move(onChanged);
    return listen(bool(onChanged_));
}

bool NetlinkInterfaceSource::watchLinks(LinkWatcher onLink) {
    onLink_ = std::move(onLink);
    return listen(bool(onLink_));
}

bool NetlinkInterfaceSource::listen(bool wanted) {
    if (!onChanged_ && !onLink_)
        closeEvents();
    return wanted && openEvents();
}

bool NetlinkInterfaceSource::openEvents() {
    if (eventFd_ >= 0)
        return true;
    // Its own socket: notifications must never mix with the answers to
    // requests, and its reads must never block the window.
    eventFd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (eventFd_ < 0)
        return false;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (::bind(eventFd_, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        closeEvents();
        return false;
    }
    events_.resize(kBufferSize);
    notifier_ = std::make_unique<QSocketNotifier>(eventFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { readEvents(); });
    return true;
}

void NetlinkInterfaceSource::closeEvents() {
    countedNameHeld_ = false; // nothing would tell of a rename now
    notifier_.reset();
    if (eventFd_ >= 0)
        ::close(eventFd_);
    eventFd_ = -1;
}

void NetlinkInterfaceSource::readEvents() {
    // Everything waiting is read before the owner is told, once: a burst of
    // hundreds of links costs one rebuild per turn of the event loop, not one
    // per link.
    bool changed = false;
    std::vector<NetlinkMessages::Change> links;
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        const ssize_t received = ::recvfrom(eventFd_, events_.data(), events_.size(), 0,
                                            reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (received > 0) {
            if (from.nl_pid != 0)
                continue;
            for (auto &change : NetlinkMessages::changes(events_.data(), std::size_t(received))) {
                changed = true;
                if (change.kind != NetlinkMessages::Change::Address &&
                    change.index == countedIndex_)
                    countedNameHeld_ = false;
                if (change.kind != NetlinkMessages::Change::Address && onLink_)
                    links.push_back(std::move(change));
            }
            continue;
        }
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && errno == ENOBUFS) {
            // The kernel dropped notifications it had no room for: what they
            // said is unknown, so the owner reads everything afresh.
            changed = true;
            countedNameHeld_ = false;
            continue;
        }
        if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // The socket itself failed: a new one, and a fresh read, since
        // whatever happened in between was not heard. The old notifier is
        // the sender of this call, so it goes once the call has returned.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
        closeEvents();
        openEvents();
        changed = true;
        break;
    }
    // Each handler is copied before the call: a handler may stop a watch.
    for (const auto &change : links) {
        InterfaceRow row;
        linkRow(&change.link, false, row);
        if (const LinkWatcher onLink = onLink_)
            onLink(row, change.kind == NetlinkMessages::Change::LinkGone);
    }
    if (const auto onChanged = changed ? onChanged_ : nullptr)
        onChanged();
}
