#pragma once

#include "monitor/MonotonicClock.h"

// The system's monotonic clock. On Linux it also counts the time spent in
// suspend (CLOCK_BOOTTIME), so that the first tick after a wake-up sees the
// whole gap and takes a fresh baseline instead of folding the sleep into one
// reading.
class SteadyClock final : public MonotonicClock {
public:
    qint64 nowNs() const override;
};
