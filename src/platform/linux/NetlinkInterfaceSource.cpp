#include "platform/linux/NetlinkInterfaceSource.h"

NetlinkInterfaceSource::NetlinkInterfaceSource() = default;
NetlinkInterfaceSource::~NetlinkInterfaceSource() = default;

TableResult NetlinkInterfaceSource::interfaceTable(std::vector<InterfaceRow> &rows) {
    rows.clear();
    return TableResult::NotSupported;
}

bool NetlinkInterfaceSource::interfaceRow(qint32 index, InterfaceRow &row, Detail) {
    row = InterfaceRow{};
    row.index = index;
    return false;
}

bool NetlinkInterfaceSource::addressTable(std::vector<AddressRow> &rows) {
    rows.clear();
    return false;
}
