#pragma once

#include "monitor/TickSample.h"
#include "usagewindow/CapWatcher.h"
#include "usagewindow/RateTrail.h"
#include "usagewindow/UsageWindow.h"

#include <QObject>
#include <QPointer>
#include <functional>

class Monitor;
class QAction;
class Notifier;
class UsageHistory;

// Everything behind the "&Usage" menu item: the trail of recent rates, the
// data-cap watcher and the Usage window, made on first use. It hears of
// the tick only through Monitor::sampled; while the window is hidden a
// tick costs it two numbers stored (and the cap's look at the history,
// when a cap is set).
class UsageFeature final : public QObject {
public:
    struct Clocks {
        std::function<qint64()> monotonicMs; // for the graph's time axis
        std::function<QDate()> today;        // the user's local date
    };
    static Clocks systemClocks();

    UsageFeature(UsageHistory *history, Notifier *notifier, Clocks clocks = systemClocks(),
                 QObject *parent = nullptr);
    ~UsageFeature() override;

    // Hooks the feature to the monitor's tick and the "&Usage" menu item.
    void attach(Monitor *monitor, QAction *usage);

    void sampled(const TickSample &sample);
    // Shows the one Usage window (made on first use, at its remembered
    // place) and brings it to the front.
    void showWindow();
    UsageWindow *window() const { return window_; }
    const RateTrail &trail() const { return trail_; }
    CapWatcher &cap() { return cap_; }

private:
    UsageHistory *history_;
    Monitor *monitor_ = nullptr;
    Clocks clocks_;
    RateTrail trail_;
    CapWatcher cap_;
    QByteArray interface_;
    qint32 index_ = 0;
    QPointer<UsageWindow> window_;
    TickSample last_;
};
