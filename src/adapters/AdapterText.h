#pragma once

#include "adapters/InterfaceSource.h"

#include <QLocale>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

// The texts the adapter list and the details page show, and the mapping of
// the kernel's link types onto the standard interface-type codes. Plain
// functions: no widgets, no system calls.
namespace AdapterText {

// A description as the system hands it over, cut at the first NUL (a
// fixed-size name buffer may carry junk after it).
QString descriptionText(const QString &description);

// One list entry: "address: description", the description cut at NUL and
// with leading and trailing spaces (only spaces) removed. An interface
// without an address gives ": description".
QString entryText(const QString &address, const QString &description);

// "a.b.c.d" for an address held with the first dotted number in the most
// significant byte.
QString dottedAddress(quint32 address);

// The dotted text of the lowest IPv4 address of interface index, or empty
// text when it has none.
QString addressOf(const std::vector<AddressRow> &addresses, qint32 index);

// Link speed for the details page: "100 mbit", "1.544 mbit", "54 kbit",
// "999 bit". Quotients are written in their shortest form with at most 15
// significant digits, with the locale's decimal separator and no grouping.
QString speedText(quint64 bitsPerSecond, const QLocale &locale = QLocale());

// The name of a standard interface-type code, or nullopt for a code the
// details page does not name (its label then keeps its text).
std::optional<QString> typeName(quint32 type);

// Standard interface-type code for a Linux link type (ARPHRD_*). Ethernet
// links that are wireless devices read as 71.
quint32 interfaceTypeForLinkType(quint32 linkType, bool wireless);

} // namespace AdapterText
