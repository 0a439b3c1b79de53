#pragma once

#include <QtGlobal>

// The platform edge for time: a clock that only ever moves forward, read in
// nanoseconds from an arbitrary origin. The tick divides the bytes moved by
// the time that really passed between two of its readings; a timer that
// fires late (a busy machine, a debugger, a slow X server) then shows the
// true rate instead of a multiple of it.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual qint64 nowNs() const = 0;
};
