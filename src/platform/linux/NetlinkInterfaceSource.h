#pragma once

#include "adapters/InterfaceSource.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
struct nlmsghdr;

// Interface data straight from the Linux kernel: rtnetlink for the interface
// table, one interface by index (64-bit counters) and the IPv4 addresses;
// sysfs for the link speed and the wireless check.
//
// One NETLINK_ROUTE socket stays open for the object's life, so reading one
// row costs the same whatever the number of interfaces: the counters alone
// are one statistics request (a reply of about 250 bytes), and one ioctl for
// the name unless the notifications vouch for it; full detail is one link
// request (about 1.5 KB) and sysfs. A socket that fails is closed and opened
// again once.
//
// Changes come on a second socket, subscribed to the kernel's link and IPv4
// address notifications and watched by the event loop: nothing is polled. A
// link's removal carries its last counters, which the usage history counts.
class NetlinkInterfaceSource final : public InterfaceSource {
public:
    NetlinkInterfaceSource();
    ~NetlinkInterfaceSource() override;
    NetlinkInterfaceSource(const NetlinkInterfaceSource &) = delete;
    NetlinkInterfaceSource &operator=(const NetlinkInterfaceSource &) = delete;

    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override;
    bool interfaceRow(qint32 index, InterfaceRow &row, Detail detail) override;
    bool addressTable(std::vector<AddressRow> &rows) override;
    bool watch(std::function<void()> onChanged) override;
    bool watchLinks(LinkWatcher onLink) override;

private:
    enum class Outcome { Ok, KernelError, SocketError };
    // Called for each reply message: its type, its payload and the payload's
    // length in bytes.
    using Handler = std::function<void(quint16 type, const char *payload, std::size_t length)>;

    bool open();
    void close();
    // Sends request (its sequence number is filled in here) and hands every
    // reply to handler. A failing socket is reopened and the request sent
    // once more.
    Outcome exchange(nlmsghdr &request, bool dump, const Handler &handler);
    Outcome exchangeOnce(nlmsghdr &request, bool dump, const Handler &handler);
    // Counters of one interface from the statistics request, and its name
    // when named. KernelError when the kernel refused it: the interface is
    // missing, or the kernel does not know the request.
    Outcome countersRow(qint32 index, InterfaceRow &row, bool named);

    // Opens the notification socket while anybody watches, closes it
    // when nobody does; wanted tells what the caller asked for.
    bool listen(bool wanted);
    bool openEvents();
    void closeEvents();
    void readEvents();

    int fd_ = -1;
    bool statsRequests_ = true; // false once the kernel turned them down
    quint32 seq_ = 0;
    std::vector<char> buffer_;
    // The name and description of the link the counters were last read for,
    // handed out again while the kernel gives the same name: no allocation
    // on a tick. Held: no notification about that link came since the name
    // was read, on a socket that listened all along.
    QByteArray countedName_;
    QString countedDescription_;
    qint32 countedIndex_ = 0;
    bool countedNameHeld_ = false;

    int eventFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onChanged_;
    LinkWatcher onLink_;
    std::vector<char> events_;
};
