#include "platform/qt/SteadyClock.h"

#ifdef __linux__
#include <time.h>
#else
#include <chrono>
#endif

qint64 SteadyClock::nowNs() const {
#ifdef __linux__
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now); // cannot fail with a valid clock and buffer
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
#else
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
}
