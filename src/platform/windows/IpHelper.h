#pragma once

// The IP Helper headers in the one order that works: without Winsock's
// headers first, iphlpapi.h leaves out the 64-bit interface table
// (MIB_IF_TABLE2, GetIfTable2) and the change notifications.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
// clang-format on

// The IP Helper calls the interface source makes, as a table of function
// pointers: the real ones by default, fakes in tests. Wine implements the
// tables but only stubs the change notification, so the tests drive that
// path through a fake.
struct IpHelperApi {
    decltype(&::GetIfTable2) getIfTable2 = ::GetIfTable2;
    decltype(&::FreeMibTable) freeMibTable = ::FreeMibTable;
    decltype(&::GetIfEntry2) getIfEntry2 = ::GetIfEntry2;
    decltype(&::GetAdaptersAddresses) getAdaptersAddresses = ::GetAdaptersAddresses;
    decltype(&::NotifyIpInterfaceChange) notifyIpInterfaceChange = ::NotifyIpInterfaceChange;
    decltype(&::CancelMibChangeNotify2) cancelMibChangeNotify2 = ::CancelMibChangeNotify2;
};
