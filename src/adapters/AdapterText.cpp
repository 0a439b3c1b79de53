#include "adapters/AdapterText.h"

#include <algorithm>

namespace AdapterText {

QString descriptionText(const QString &description) {
    const qsizetype nul = description.indexOf(QChar(u'\0'));
    return nul < 0 ? description : description.left(nul);
}

QString entryText(const QString &address, const QString &description) {
    // Only spaces are removed: a tab or other blank in a name is shown.
    const QString text = descriptionText(description);
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return address + QStringLiteral(": ") + text.mid(begin, end - begin);
}

QString dottedAddress(quint32 address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg((address >> 24) & 0xFF)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

QString addressOf(const std::vector<AddressRow> &addresses, qint32 index) {
    // The table comes ordered by address, so the lowest is the first match;
    // taking the minimum keeps that answer even for a table out of order.
    const AddressRow *best = nullptr;
    for (const AddressRow &row : addresses)
        if (row.index == index && (!best || row.address < best->address))
            best = &row;
    return best ? dottedAddress(best->address) : QString();
}

QString speedText(quint64 bitsPerSecond, const QLocale &locale) {
    if (bitsPerSecond < 1000)
        return QString::number(bitsPerSecond) + QStringLiteral(" bit");
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    const double value = double(bitsPerSecond);
    // 'g' with 15 digits never switches to an exponent here: the largest
    // 64-bit speed is below 10^14 mbit.
    if (bitsPerSecond >= 1000000)
        return plain.toString(value / 1000000.0, 'g', 15) + QStringLiteral(" mbit");
    return plain.toString(value / 1000.0, 'g', 15) + QStringLiteral(" kbit");
}

std::optional<QString> typeName(quint32 type) {
    switch (type) {
    case 1:
        return QStringLiteral("Other");
    case 6:
        return QStringLiteral("Ethernet");
    case 9:
        return QStringLiteral("TokenRing");
    case 15:
        return QStringLiteral("FDDI");
    case 23:
        return QStringLiteral("PPP");
    case 24:
        return QStringLiteral("Loopback");
    case 28:
        return QStringLiteral("SLIP");
    default:
        return std::nullopt;
    }
}

quint32 interfaceTypeForLinkType(quint32 linkType, bool wireless) {
    // Values of the kernel's ARPHRD_* constants, spelled out so that this
    // stays a portable rule.
    switch (linkType) {
    case 1: // ETHER
        return wireless ? 71 : 6;
    case 772: // LOOPBACK
        return 24;
    case 512: // PPP
        return 23;
    case 256: // SLIP
    case 257: // CSLIP
    case 258: // SLIP6
    case 259: // CSLIP6
        return 28;
    case 768:   // TUNNEL (ipip)
    case 769:   // TUNNEL6
    case 776:   // SIT
    case 778:   // IPGRE
    case 823:   // IP6GRE
    case 65534: // NONE: tun, wireguard
        return 131;
    default:
        return 1;
    }
}

} // namespace AdapterText
