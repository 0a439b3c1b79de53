#pragma once

#include "monitor/TrayPicture.h"

#include <QByteArray>
#include <QMetaType>
#include <QtGlobal>
#include <optional>

// What one tick measured on the selected interface, handed to whoever wants
// it beyond the windows (the usage history, the live graph). Nothing here is
// read from the system again: it is the tick's own result.
struct TickSample {
    qint32 index = 0;      // the interface the tick read; 0 when none is selected
    QByteArray name;       // its name as the kernel spells it (any bytes)
    bool measured = false; // false: no totals this tick (none selected, read failed, adoption)
    bool hasRates = false; // true when the tick showed both rates: downRate and upRate hold them
    double downRate = 0;   // bytes per second, over the time that really passed
    double upRate = 0;
    qint64 recvTotal = 0; // the totals the Monitor tab shows
    qint64 sentTotal = 0;
    qint64 lateMs = 0; // how long ago the counters were read (a reading caught up later)
    // What the tray should show after this tick; none when the tray shows
    // no load levels or the tick ended before it knew.
    std::optional<TrayPicture> picture = std::nullopt;
};
Q_DECLARE_METATYPE(TickSample)
