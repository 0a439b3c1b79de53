#include "monitor/Monitor.h"

#include "adapters/InterfaceSource.h"
#include "monitor/MonotonicClock.h"
#include "monitor/RateText.h"
#include "monitor/Sampler.h"

#include <QEvent>
#include <QTimer>
#include <algorithm>

// The sampling tick. Every step that could fail (an overflow) ends the tick
// where it stands: what earlier steps set stays, and the previous totals are
// only advanced by a tick that ran to the end, so the next tick measures
// from the last good one. Rates divide by the time that really passed since
// that tick's reading, on the monotonic clock.

namespace {

// Hands what the tick measured to the listeners however the tick ends, so
// that a tick that stops early still reports "nothing".
class SampleReport {
public:
    SampleReport(Monitor &m, qint32 index) : m_(m) { sample.index = index; }
    ~SampleReport() { emit m_.sampled(sample); }
    SampleReport(const SampleReport &) = delete;
    SampleReport &operator=(const SampleReport &) = delete;
    TickSample sample;

private:
    Monitor &m_;
};

} // namespace

Monitor::Monitor(InterfaceSource *interfaces, const MonotonicClock *clock,
                 InterfaceSource *restingInterfaces, QObject *parent)
    : QObject(parent), tmrAdapterUpdate(new QTimer(this)), interfaces_(interfaces), clock_(clock),
      restingInterfaces_(restingInterfaces) {
    tmrAdapterUpdate->setObjectName(QStringLiteral("tmrAdapterUpdate"));
    tmrAdapterUpdate->setTimerType(Qt::PreciseTimer);
    connect(tmrAdapterUpdate, &QTimer::timeout, this, &Monitor::tmrAdapterUpdate_Timer);
}

Monitor::~Monitor() {
    // The resting thread may be about to wake this object; it ends first.
    resting.reset();
}

void Monitor::setTrayOptions(const TrayOptions &options) {
    tray_ = options;
    // The tray was just given the idle picture behind the tick's back; the
    // next tick runs here and tells it what it should show.
    picture_.reset();
    leaveRest();
}

void Monitor::setThreshold(Threshold which, const QString &text) {
    ReadThreshold &t = which == Threshold::Yellow ? yellow_ : red_;
    t.text = text;
    t.value = RateText::readNumber(text);
}

void Monitor::tmrAdapterUpdate_Timer() {
    // Somebody started the timer again while the readings went elsewhere.
    leaveRest();
    tick(nullptr);
}

void Monitor::adopt(const QString &description) {
    figures_.adapterName = description;
    hasPrevious_ = false;
    // Wraps seen on another interface say nothing about this one.
    recvWraps_ = 0;
    sentWraps_ = 0;
    trackedAdapter = selectedAdapter;
}

void Monitor::tick(const RestingReading *caughtUp) {
    SampleReport report(*this, selectedAdapter);
    if (selectedAdapter == 0) {
        figures_.adapterName = QStringLiteral("No adapter selected");
        return;
    }

    InterfaceRow row;
    row.index = selectedAdapter;
    const int interval = tmrAdapterUpdate->interval();
    bool read = false;
    qint64 readAt = 0;
    if (caughtUp) {
        read = caughtUp->read;
        readAt = caughtUp->atNs;
        if (read) {
            row = restingRow_;
            row.inOctets = caughtUp->in;
            row.outOctets = caughtUp->out;
        }
        report.sample.lateMs = (clock_->nowNs() - readAt) / 1000000;
    } else {
        read = interfaces_ &&
               interfaces_->interfaceRow(selectedAdapter, row, InterfaceSource::Detail::Counters);
        readAt = clock_ ? clock_->nowNs() : prevReadAt_ + qint64(interval) * 1000000;
    }
    const bool adopting = trackedAdapter != selectedAdapter;

    // A failed read (the interface went away) tells nothing about the
    // counters; taking it for zeros would count a phantom wrap. It also
    // breaks the series: the next good read may come from a link created
    // anew under the same index, or span several intervals, so it only takes
    // a fresh baseline instead of showing a rate. Meanwhile the rates, the
    // mini window and the tip say that nothing is measured rather than
    // repeat figures from before; the totals stay.
    if (!read) {
        hasPrevious_ = false;
        if (adopting) {
            // The totals of the interface followed so far are not this one's.
            adopt(selectedDescription);
            figures_.sent.reset();
            figures_.recv.reset();
        }
        figures_.up.reset();
        figures_.down.reset();
        if (tray_.animate)
            report.sample.picture = picture_ = TrayPicture::idle();
        return;
    }
    report.sample.name = row.name;

    if (adopting) {
        adopt(row.description);
        return;
    }

    const auto recv = Sampler::foldCounter(row.inOctets, row.counterBits, recvWraps_,
                                           hasPrevious_ ? prevRecvTotal_ : 0);
    const auto sent = Sampler::foldCounter(row.outOctets, row.counterBits, sentWraps_,
                                           hasPrevious_ ? prevSentTotal_ : 0);
    if (!recv || !sent)
        return;
    recvWraps_ = recv->wraps;
    sentWraps_ = sent->wraps;
    // A gap far beyond the interval, or no time at all, is a break in the
    // series like a failed read: this tick becomes the new baseline.
    const std::optional<double> elapsed =
        hasPrevious_ ? Sampler::elapsedMs(prevReadAt_, readAt, interval) : std::nullopt;
    const Sampler::Direction down{recv->total, prevRecvTotal_, elapsed.has_value(), recv->reset};
    const Sampler::Direction up{sent->total, prevSentTotal_, elapsed.has_value(), sent->reset};
    const double elapsedMs = elapsed.value_or(0);
    quiet_ = down.quiet() && up.quiet();

    figures_.sent = sent->total;
    figures_.recv = recv->total;
    for (auto [direction, figure] :
         {std::pair(&down, &figures_.down), std::pair(&up, &figures_.up)})
        if (direction->hasRate()) {
            const auto rate = Sampler::rate(direction->difference(), elapsedMs);
            if (!rate)
                return;
            *figure = rate;
        }

    if (tray_.animate && !trayStep(down.difference(), up.difference(), elapsedMs, report.sample))
        return;

    hasPrevious_ = true;
    prevRecvTotal_ = recv->total;
    prevSentTotal_ = sent->total;
    prevReadAt_ = readAt;

    report.sample.measured = true;
    report.sample.recvTotal = recv->total;
    report.sample.sentTotal = sent->total;
    report.sample.hasRates = down.hasRate() && up.hasRate();
    report.sample.downRate = down.hasRate() ? *figures_.down : 0;
    report.sample.upRate = up.hasRate() ? *figures_.up : 0;
    if (!caughtUp)
        restIfUnseen(row, {row.inOctets, row.outOctets, readAt, true});
}

// Automatic thresholds, load levels and the picture for the tray. False
// when the tick has to end here.
bool Monitor::trayStep(qint64 down, qint64 up, double elapsedMs, TickSample &sample) {
    TrayPicture picture = TrayPicture::idle();
    if (!quiet_) {
        const auto top = Sampler::topRate(down, up, elapsedMs);
        const auto candidates = top ? Sampler::thresholdCandidates(*top) : std::nullopt;
        if (!candidates)
            return false;
        for (const auto &[which, candidate] : {std::pair(Threshold::Yellow, candidates->yellow),
                                               std::pair(Threshold::Red, candidates->red)}) {
            const ReadThreshold &t = which == Threshold::Yellow ? yellow_ : red_;
            if (Sampler::raisesThreshold(t.text.isEmpty(), t.value, candidate, *top,
                                         tray_.autoAdjust)) {
                setThreshold(which, RateText::twoDecimals(candidate));
                emit thresholdRaised(which, t.text);
            }
        }
        // Thresholds that are not numbers leave the idle picture.
        const auto levels = Sampler::trayPicture(down, up, elapsedMs, red_.value, yellow_.value);
        if (!levels)
            return false;
        picture = *levels;
    }
    sample.picture = picture_ = picture;
    return true;
}

void Monitor::watch(QObject *window) {
    windows_.emplace_back(window);
    window->installEventFilter(this);
    if (window->property("visible").toBool())
        leaveRest();
}

bool Monitor::eventFilter(QObject *watched, QEvent *event) {
    // A window that comes up ends the rest before it paints.
    if (event->type() == QEvent::Show)
        leaveRest();
    return QObject::eventFilter(watched, event);
}

// A tray host that must hear every new rate would wake this thread on every
// tick anyway while bytes move: the tick then stays here, and rests from the
// next quiet tick.
bool Monitor::restFits() const {
    if (!hasPrevious_ || !(quiet_ || !tray_.tipEveryRate))
        return false;
    return std::none_of(windows_.begin(), windows_.end(), [](const QPointer<QObject> &window) {
        return window && window->property("visible").toBool();
    });
}

RestingPlan Monitor::restingPlan(const RestingReading &last) const {
    RestingPlan plan;
    plan.index = selectedAdapter;
    plan.intervalMs = tmrAdapterUpdate->interval();
    plan.last = last;
    plan.animate = tray_.animate;
    plan.picture = picture_;
    plan.yellow = yellow_.value;
    plan.red = red_.value;
    plan.yellowEmpty = yellow_.text.isEmpty();
    plan.redEmpty = red_.text.isEmpty();
    plan.autoAdjust = tray_.autoAdjust;
    plan.tipShowsRates = tray_.tipEveryRate;
    return plan;
}

void Monitor::restIfUnseen(const InterfaceRow &row, const RestingReading &last) {
    if (!restingInterfaces_ || !clock_ || !tmrAdapterUpdate->isActive() || !restFits())
        return;
    if (!resting)
        resting = std::make_unique<RestingTicker>(*restingInterfaces_, *clock_, [this] {
            QMetaObject::invokeMethod(this, &Monitor::catchUp, Qt::QueuedConnection);
        });
    // The readings are of this interface, under this name: a change of
    // either comes as a notification, which ends the rest first.
    restingRow_ = row;
    tmrAdapterUpdate->stop();
    atRest_ = true;
    resting->resume(restingPlan(last));
}

void Monitor::replayReadings() {
    resting->take(caughtUp_);
    for (const RestingReading &reading : caughtUp_)
        tick(&reading);
}

void Monitor::catchUp() {
    if (!atRest_)
        return;
    replayReadings();
    if (tmrAdapterUpdate->isActive() || !restFits()) {
        leaveRest();
        return;
    }
    if (!caughtUp_.empty())
        resting->resume(restingPlan(caughtUp_.back()));
}

void Monitor::leaveRest() {
    if (!atRest_)
        return;
    atRest_ = false;
    resting->pause();
    replayReadings();
    if (!tmrAdapterUpdate->isActive())
        tmrAdapterUpdate->start();
}
