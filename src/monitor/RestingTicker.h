#pragma once

#include "monitor/TrayPicture.h"

#include <QMutex>
#include <QWaitCondition>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class InterfaceSource;
class MonotonicClock;
class QThread;

// Hidden in the tray, the program spends most of its life waking up for a
// tick that changes nothing anybody sees. Each wake-up of the GUI thread
// costs Qt's event loop more than the tick's own work, so while no window is
// on screen the counters are read on a thread of their own, which sleeps
// between readings without any event loop. The GUI thread is woken only when
// a reading changes what the desktop shows (the tray's picture, a threshold,
// a tip that shows the rates) or cannot be taken, and otherwise every few
// seconds; it then runs its ordinary tick over every reading in turn, so
// totals, rates, the usage history and the live graph come out exactly as if
// it had ticked all along.

// One reading of the selected interface's counters.
struct RestingReading {
    quint64 in = 0;
    quint64 out = 0;
    qint64 atNs = 0; // on the tick's monotonic clock
    bool read = false;
};

// What the GUI thread's tick settled last, for judging a new reading.
struct RestingPlan {
    qint32 index = 0;
    int intervalMs = 1000;
    RestingReading last;                // the reading the next rate is measured from
    bool animate = false;               // the tray shows load levels
    std::optional<TrayPicture> picture; // what the tray shows; none: send whatever comes
    std::optional<double> yellow, red;  // the thresholds as numbers
    bool yellowEmpty = false, redEmpty = false;
    bool autoAdjust = false;
    bool tipShowsRates = false; // the tray host must be told every new rate
    int catchUpMs = 10000;      // no reading waits longer than this for the GUI thread
};

namespace Resting {
// Whether now, read after last, changes what the tick would show or needs
// the tick to deal with it. quiet says whether no byte moved between them.
bool wakes(const RestingPlan &plan, const RestingReading &last, bool lastQuiet,
           const RestingReading &now, bool &quiet);
} // namespace Resting

class RestingTicker {
public:
    // source is read from the ticker's thread alone; wake is called from it
    // and must only post to the GUI thread.
    RestingTicker(InterfaceSource &source, const MonotonicClock &clock, std::function<void()> wake);
    ~RestingTicker();
    RestingTicker(const RestingTicker &) = delete;
    RestingTicker &operator=(const RestingTicker &) = delete;

    // Starts reading one interval after now, or goes on with a new plan.
    void resume(const RestingPlan &plan);
    // Stops reading; a reading under way is dropped.
    void pause();
    // The readings not taken yet, in order, into out (cleared first). The
    // next reading that matters wakes the GUI thread again.
    void take(std::vector<RestingReading> &out);

    // Tests read on their own thread, one reading per call, instead of
    // starting the ticker's thread.
    bool manual = false;
    void readNow();

private:
    void run();
    RestingReading read();
    void settle(const RestingReading &reading); // under mutex_

    InterfaceSource &source_;
    const MonotonicClock &clock_;
    std::function<void()> wake_;
    std::unique_ptr<QThread> thread_;

    QMutex mutex_;
    QWaitCondition changed_;
    RestingPlan plan_;
    bool active_ = false;
    bool restart_ = false; // the next reading is one interval from now
    bool quit_ = false;
    bool woken_ = false; // the GUI thread was woken and has not taken yet
    RestingReading last_;
    bool lastQuiet_ = false;
    std::vector<RestingReading> readings_;
};
