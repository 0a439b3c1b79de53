#pragma once

#include "tray/TrayPicture.h"

#include <QString>
#include <QtGlobal>
#include <optional>

// What the sampling tick keeps between ticks. Totals are plain 64-bit byte
// counts; the wrap counts are 64-bit as well so that they can never overflow.
struct SamplerState {
    qint64 recvTotal = 0;
    qint64 sentTotal = 0;
    qint64 prevRecvTotal = 0;
    qint64 prevSentTotal = 0;
    qint64 recvWraps = 0;
    qint64 sentWraps = 0;
    bool firstTickDone = false;
    std::optional<TrayPicture> lastTrayPicture;
    QString lastTrayTip;
    qint64 topRate = 0;
};
