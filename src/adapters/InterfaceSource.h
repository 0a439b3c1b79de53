#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <vector>

// What the program knows about one network interface. The platform fills it
// from its own interface data; everything above this line is portable.
struct InterfaceRow {
    qint32 index = 0;      // the system's interface index; 0 never names an interface
    quint32 type = 0;      // standard interface-type code: 6 Ethernet, 24 loopback, 71 wireless...
    quint64 speed = 0;     // link speed in bit/s; 0 when the system does not know it
    quint64 inOctets = 0;  // bytes received so far (the system's counter, counterBits wide)
    quint64 outOctets = 0; // bytes sent so far
    int counterBits = 64;  // width of the two counters: 32 counters wrap, 64 ones only reset
    QString description;   // the name as shown: bytes that are not UTF-8 replaced
    QByteArray name;       // the name as the system spells it (any bytes), for lookups by name
};

// One IPv4 address and the interface that owns it. The address is held with
// the first dotted number in the most significant byte, so ordering by value
// orders by address.
struct AddressRow {
    quint32 address = 0;
    qint32 index = 0;
};

enum class TableResult {
    Ok,
    NotSupported, // the system's interface data cannot be opened at all
    Failed,       // it can, but this read failed: nothing is listed
};

// The platform edge for interface data. One implementation per system; tests
// use a fake.
class InterfaceSource {
public:
    enum class Detail {
        Counters, // name and counters: what the sampler needs every tick
        Bytes,    // the counters; the name and description may be left empty
        Full,     // also the link speed and the wireless check, for the details page
    };

    virtual ~InterfaceSource() = default;

    // Every interface, in the system's own order, each as a read with
    // Detail::Counters gives it (no link speed). Read again on every change
    // the system reports, so its cost must stay small with many interfaces.
    virtual TableResult interfaceTable(std::vector<InterfaceRow> &rows) = 0;

    // One interface by index. Must cost the same whatever the number of
    // interfaces: the sampler calls it on every tick. Returns false (and leaves
    // row with its index only) when the interface does not exist or the read
    // failed.
    virtual bool interfaceRow(qint32 index, InterfaceRow &row, Detail detail) = 0;

    // Every IPv4 address, ordered by address. False when it cannot be read.
    virtual bool addressTable(std::vector<AddressRow> &rows) = 0;

    // From now on calls onChanged, from the calling thread's event loop,
    // whenever an interface or an IPv4 address may have come, changed or
    // gone (also when the system lost track and everything must be read
    // afresh). An empty function stops it. False when this system cannot
    // tell: the list then stays as start-up read it.
    virtual bool watch(std::function<void()> onChanged) {
        (void)onChanged;
        return false;
    }

    // From now on calls onLink, from the calling thread's event loop, for
    // each link the system reports as come or changed (gone false) or gone
    // (gone true), with index, name, type and counters as it reported them:
    // for a link that went away, the last counters it had. An empty
    // function stops it. False when this system does not tell them.
    using LinkWatcher = std::function<void(const InterfaceRow &row, bool gone)>;
    virtual bool watchLinks(LinkWatcher onLink) {
        (void)onLink;
        return false;
    }
};
