#pragma once

#include "adapters/InterfaceSource.h"

// Interface data straight from the Linux kernel: rtnetlink for the interface
// table, one interface by index (64-bit counters) and the IPv4 addresses;
// sysfs for the link speed and the wireless check.
class NetlinkInterfaceSource final : public InterfaceSource {
public:
    NetlinkInterfaceSource();
    ~NetlinkInterfaceSource() override;
    NetlinkInterfaceSource(const NetlinkInterfaceSource &) = delete;
    NetlinkInterfaceSource &operator=(const NetlinkInterfaceSource &) = delete;

    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override;
    bool interfaceRow(qint32 index, InterfaceRow &row, Detail detail) override;
    bool addressTable(std::vector<AddressRow> &rows) override;

private:
    int fd_ = -1;
};
