#pragma once

#include "adapters/InterfaceSource.h"
#include "monitor/RestingTicker.h"
#include "monitor/TickSample.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>

class InterfaceSource;
class MonotonicClock;
class QTimer;

// What the windows show of the followed interface, as the last tick left it.
// An empty figure is a blank label.
struct Figures {
    QString adapterName;
    std::optional<qint64> sent, recv; // bytes
    std::optional<double> up, down;   // bytes a second
};

// The traffic monitor, free of widgets: it owns the sampling timer and what
// the tick keeps between ticks (totals, wraps, thresholds), and emits what
// each tick measured. The main window, the mini window, the tray and the
// usage feature are its views: each shows figures() when it comes on screen
// and whatever a sample brings while it is there.
//
// While no watched window is on screen the counters are read on the resting
// ticker's thread (monitor/RestingTicker.h) and the timer stops; the monitor
// runs its ordinary tick over those readings when one of them changes what
// the tray shows, when a window comes up, and every few seconds, so views
// and listeners see every sample as if it had ticked all along.
class Monitor : public QObject {
    Q_OBJECT

public:
    // restingInterfaces is read only from the resting thread; null: the
    // monitor never rests. Without a clock every tick counts as exactly one
    // timer interval.
    Monitor(InterfaceSource *interfaces, const MonotonicClock *clock,
            InterfaceSource *restingInterfaces = nullptr, QObject *parent = nullptr);
    ~Monitor() override;

    QTimer *const tmrAdapterUpdate;
    void tmrAdapterUpdate_Timer();

    // The monitored interface (0: none) and the description to show for it
    // while it cannot be read.
    qint32 selectedAdapter = 0;
    QString selectedDescription;
    // The interface the sampler follows; a tick that finds another one
    // selected adopts it and starts afresh. 0 after start-up.
    qint32 trackedAdapter = 0;

    // What the tray step needs of the options.
    struct TrayOptions {
        bool animate = false;      // the tray shows load levels
        bool autoAdjust = false;   // thresholds follow the top rate up
        bool tipEveryRate = false; // the tray host must hear every new rate
        bool operator==(const TrayOptions &) const = default;
    };
    void setTrayOptions(const TrayOptions &options);
    // A threshold as its box holds it (kbyte/sec text in the user's locale).
    enum class Threshold { Yellow, Red };
    void setThreshold(Threshold which, const QString &text);

    const Figures &figures() const { return figures_; }

    // A window that shows samples: while any is on screen the monitor ticks
    // on the GUI thread.
    void watch(QObject *window);
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Runs the tick over the readings taken at rest and rests on if nothing
    // came on screen. The tray calls it before it shows the tip.
    void catchUp();
    // Ends the rest: the readings taken so far are ticked over and the
    // timer runs again. Before the selection changes, so that readings of
    // the interface as it was count for it.
    void leaveRest();
    bool atRest() const { return atRest_; }
    // Made at the first rest; a test may make its own first.
    std::unique_ptr<RestingTicker> resting;

signals:
    // Emitted at the end of every tick, however it ended.
    void sampled(const TickSample &sample);
    // An automatic threshold outgrew its box: the box shows text from now
    // on, and its change handler hands the text back through setThreshold.
    void thresholdRaised(Threshold which, const QString &text);

private:
    // One tick; caughtUp is a reading the resting thread took, null for
    // one taken now.
    void tick(const RestingReading *caughtUp);
    bool trayStep(qint64 down, qint64 up, double elapsedMs, TickSample &sample);
    void adopt(const QString &description);
    void restIfUnseen(const InterfaceRow &row, const RestingReading &last);
    bool restFits() const;
    RestingPlan restingPlan(const RestingReading &last) const;
    void replayReadings();

    InterfaceSource *interfaces_;
    const MonotonicClock *clock_;
    InterfaceSource *restingInterfaces_;
    std::vector<QPointer<QObject>> windows_;

    Figures figures_;
    TrayOptions tray_;
    struct ReadThreshold {
        QString text;
        std::optional<double> value;
    } yellow_, red_;
    std::optional<TrayPicture> picture_; // the last one a sample carried

    // The last tick that ran to completion: its totals and the clock
    // reading taken with them. A total of 0 is a real reading (a link that
    // is down, a transmit-only one); hasPrevious alone says there is one.
    bool hasPrevious_ = false;
    qint64 prevRecvTotal_ = 0, prevSentTotal_ = 0;
    qint64 prevReadAt_ = 0; // nanoseconds, on the monotonic clock
    qint64 recvWraps_ = 0, sentWraps_ = 0;
    bool quiet_ = false; // the last tick that measured saw no byte move

    bool atRest_ = false;
    std::vector<RestingReading> caughtUp_;
    InterfaceRow restingRow_; // the interface the readings are of
};
