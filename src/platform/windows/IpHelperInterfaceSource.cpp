#include "platform/windows/IpHelperInterfaceSource.h"

#include <QMetaObject>
#include <algorithm>
#include <cwchar>

namespace {

QString wideText(const wchar_t *text, std::size_t capacity) {
    return QString::fromWCharArray(text, qsizetype(wcsnlen(text, capacity)));
}

// Adapters that do not know their speed (a disconnected Wi-Fi card) report
// all ones.
constexpr ULONG64 kUnknownSpeed = ~ULONG64(0);

} // namespace

IpHelperInterfaceSource::IpHelperInterfaceSource(const IpHelperApi &api)
    : api_(api), receiver_(std::make_unique<QObject>()) {
    HANDLE handle = nullptr;
    if (api_.notifyIpInterfaceChange(AF_UNSPEC, &IpHelperInterfaceSource::interfaceChanged, this,
                                     FALSE, &handle) == NO_ERROR)
        notification_ = handle;
}

IpHelperInterfaceSource::~IpHelperInterfaceSource() {
    // Cancelling waits for a callback that is running, so none can reach
    // this object afterwards; a change it had already queued goes with the
    // receiver.
    if (notification_)
        api_.cancelMibChangeNotify2(notification_);
}

void NETIOAPI_API_ IpHelperInterfaceSource::interfaceChanged(PVOID context, PMIB_IPINTERFACE_ROW,
                                                             MIB_NOTIFICATION_TYPE) {
    static_cast<IpHelperInterfaceSource *>(context)->deliverChange();
}

void IpHelperInterfaceSource::deliverChange() {
    // A link that comes up reports once per address family and again per
    // address; the user-interface thread needs to hear of it once.
    if (changePending_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this] {
            changePending_ = false;
            if (onChanged_)
                onChanged_();
        },
        Qt::QueuedConnection);
}

InterfaceRow IpHelperInterfaceSource::rowFrom(const MIB_IF_ROW2 &row) {
    InterfaceRow out;
    out.index = qint32(row.InterfaceIndex);
    out.type = row.Type;
    out.speed = row.TransmitLinkSpeed == kUnknownSpeed ? 0 : row.TransmitLinkSpeed;
    out.inOctets = row.InOctets;
    out.outOctets = row.OutOctets;
    out.counterBits = 64;
    out.description = wideText(row.Description, std::size(row.Description));
    out.name = wideText(row.Alias, std::size(row.Alias)).toUtf8();
    return out;
}

bool IpHelperInterfaceSource::watch(std::function<void()> onChanged) {
    onChanged_ = std::move(onChanged);
    return watchingChanges();
}

TableResult IpHelperInterfaceSource::interfaceTable(std::vector<InterfaceRow> &rows) {
    rows.clear();
    PMIB_IF_TABLE2 table = nullptr;
    const DWORD result = api_.getIfTable2(&table);
    if (result == ERROR_NOT_SUPPORTED)
        return TableResult::NotSupported;
    if (result != NO_ERROR || !table)
        return TableResult::Failed;
    rows.reserve(table->NumEntries);
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2 &row = table->Table[i];
        // The 64-bit table also lists each lightweight filter bound to an
        // adapter ("...-WFP Native MAC Layer LightWeight Filter-0000") as an
        // interface of its own, with the adapter's own counters; the
        // adapter's row already stands for it.
        if (row.InterfaceAndOperStatusFlags.FilterInterface)
            continue;
        rows.push_back(rowFrom(row));
    }
    api_.freeMibTable(table);
    return TableResult::Ok;
}

bool IpHelperInterfaceSource::interfaceRow(qint32 index, InterfaceRow &row, Detail) {
    // One call gives counters, speed and type alike, so both details cost
    // the same.
    MIB_IF_ROW2 system{};
    system.InterfaceIndex = NET_IFINDEX(index);
    if (index <= 0 || api_.getIfEntry2(&system) != NO_ERROR) {
        row = InterfaceRow{};
        row.index = index;
        return false;
    }
    row = rowFrom(system);
    return true;
}

bool IpHelperInterfaceSource::addressTable(std::vector<AddressRow> &rows) {
    rows.clear();
    constexpr ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                            GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    // The size the system asks for can grow between two calls when an
    // adapter comes up meanwhile; three tries are plenty.
    ULONG size = 16 * 1024;
    std::vector<ULONG64> buffer; // 8-byte aligned, as the records need
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.assign(size / sizeof(ULONG64) + 1, 0);
        size = ULONG(buffer.size() * sizeof(ULONG64));
        result = api_.getAdaptersAddresses(
            AF_INET, flags, nullptr, reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA)
        return true;
    if (result != NO_ERROR)
        return false;

    for (auto *adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES *>(buffer.data()); adapter;
         adapter = adapter->Next) {
        for (auto *unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const SOCKADDR *address = unicast->Address.lpSockaddr;
            if (!address || address->sa_family != AF_INET)
                continue;
            // The first byte in memory is the first dotted number.
            const auto *bytes = reinterpret_cast<const unsigned char *>(
                &reinterpret_cast<const sockaddr_in *>(address)->sin_addr);
            const quint32 value = quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 |
                                  quint32(bytes[2]) << 8 | quint32(bytes[3]);
            rows.push_back({value, qint32(adapter->IfIndex)});
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const AddressRow &a, const AddressRow &b) {
        return a.address < b.address;
    });
    return true;
}
