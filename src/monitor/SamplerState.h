#pragma once

#include "tray/TrayPicture.h"
#include "tray/TrayTip.h"

#include <QString>
#include <QtGlobal>
#include <optional>

// What the sampling tick keeps between ticks. Totals are plain 64-bit byte
// counts; the wrap counts are 64-bit as well so that they can never overflow.
struct SamplerState {
    qint64 recvTotal = 0;
    qint64 sentTotal = 0;
    // The last tick that ran to completion: its totals and the clock reading
    // taken with them. A total of 0 is a real reading (a link that is down, a
    // transmit-only one); hasPrevious alone says whether there is one to
    // measure from.
    bool hasPrevious = false;
    qint64 prevRecvTotal = 0;
    qint64 prevSentTotal = 0;
    qint64 prevReadAt = 0; // nanoseconds, on the platform's monotonic clock
    qint64 recvWraps = 0;
    qint64 sentWraps = 0;
    bool firstTickDone = false;
    // What the tray step last handed to the tray; empty after another
    // handler changed the icon, so that the next tick sends again.
    std::optional<TrayPicture> lastTrayPicture;
    TrayTip lastTrayTip;
    qint64 topRate = 0;
    bool quiet = false; // the last tick that measured saw no byte move either way
    // Texts the tick reads as numbers, kept as last read: they change
    // seldom, and reading a number by the locale's rules costs more than the
    // rest of a tick hidden in the tray.
    template <typename T> struct ReadText {
        QString text;
        T value{};
    };
    using ReadThreshold = ReadText<std::optional<double>>;
    ReadThreshold yellow, red; // the threshold boxes
    ReadText<qint64> tracked;  // the timer's tag
};
