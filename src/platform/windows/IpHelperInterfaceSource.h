#pragma once

#include "adapters/InterfaceSource.h"
#include "platform/windows/IpHelper.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

// Interface data from Windows' IP Helper: the 64-bit interface table and
// rows (GetIfTable2, GetIfEntry2), whose counters do not wrap every 4 GiB as
// the old 32-bit MIB_IFROW ones do; the IPv4 addresses from
// GetAdaptersAddresses; and interface changes from NotifyIpInterfaceChange.
//
// The system calls the change callback on a thread of its own; the source
// hands it to the thread that made the source (the user-interface thread),
// folding a burst of calls into one.
class IpHelperInterfaceSource final : public InterfaceSource {
public:
    explicit IpHelperInterfaceSource(const IpHelperApi &api = IpHelperApi());
    ~IpHelperInterfaceSource() override;
    IpHelperInterfaceSource(const IpHelperInterfaceSource &) = delete;
    IpHelperInterfaceSource &operator=(const IpHelperInterfaceSource &) = delete;

    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override;
    bool interfaceRow(qint32 index, InterfaceRow &row, Detail detail) override;
    bool addressTable(std::vector<AddressRow> &rows) override;
    bool watch(std::function<void()> onChanged) override;

    // What one system row means to the program.
    static InterfaceRow rowFrom(const MIB_IF_ROW2 &row);
    // Whether the system gave a handle for change notifications (Wine 8
    // reports success without one, and never calls back).
    bool watchingChanges() const { return notification_ != nullptr; }

private:
    static void NETIOAPI_API_ interfaceChanged(PVOID context, PMIB_IPINTERFACE_ROW row,
                                               MIB_NOTIFICATION_TYPE type);
    void deliverChange();

    IpHelperApi api_;
    // Lives on the creating thread; queued calls to it run there.
    std::unique_ptr<QObject> receiver_;
    std::atomic<bool> changePending_{false};
    std::function<void()> onChanged_;
    HANDLE notification_ = nullptr;
};
