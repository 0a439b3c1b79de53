#include "monitor/RestingTicker.h"

#include "adapters/InterfaceSource.h"
#include "monitor/MonotonicClock.h"
#include "monitor/Sampler.h"

#include <QDeadlineTimer>
#include <QThread>
#include <limits>

namespace Resting {

bool wakes(const RestingPlan &plan, const RestingReading &last, bool lastQuiet,
           const RestingReading &now, bool &quiet) {
    quiet = false;
    // A failed read, a counter that fell (a reset) or a break in the series
    // is the tick's to deal with at once.
    if (!now.read || !last.read || now.in < last.in || now.out < last.out)
        return true;
    const auto elapsed = Sampler::elapsedMs(last.atNs, now.atNs, plan.intervalMs);
    constexpr quint64 kLargest = quint64(std::numeric_limits<qint64>::max());
    if (!elapsed || now.in - last.in > kLargest || now.out - last.out > kLargest)
        return true;
    const qint64 down = qint64(now.in - last.in);
    const qint64 up = qint64(now.out - last.out);
    quiet = down == 0 && up == 0;
    if (!plan.animate)
        return false;
    if (plan.tipShowsRates && !(quiet && lastQuiet))
        return true;
    if (quiet)
        return plan.picture != TrayPicture::idle();
    const auto top = Sampler::topRate(down, up, *elapsed);
    const auto candidates = top ? Sampler::thresholdCandidates(*top) : std::nullopt;
    if (!candidates ||
        Sampler::raisesThreshold(plan.yellowEmpty, plan.yellow, candidates->yellow, *top,
                                 plan.autoAdjust) ||
        Sampler::raisesThreshold(plan.redEmpty, plan.red, candidates->red, *top, plan.autoAdjust))
        return true;
    const auto picture = Sampler::trayPicture(down, up, *elapsed, plan.red, plan.yellow);
    return !picture || picture != plan.picture;
}

} // namespace Resting

RestingTicker::RestingTicker(InterfaceSource &source, const MonotonicClock &clock,
                             std::function<void()> wake)
    : source_(source), clock_(clock), wake_(std::move(wake)) {}

RestingTicker::~RestingTicker() {
    if (!thread_)
        return;
    {
        QMutexLocker lock(&mutex_);
        quit_ = true;
        changed_.wakeAll();
    }
    thread_->wait();
}

void RestingTicker::resume(const RestingPlan &plan) {
    QMutexLocker lock(&mutex_);
    plan_ = plan;
    if (!active_) {
        active_ = true;
        restart_ = true;
        last_ = plan.last;
        lastQuiet_ = false;
        woken_ = false;
        // Enough room for the readings of one catch-up: none is made on a reading.
        readings_.reserve(std::size_t(plan.catchUpMs / std::max(plan.intervalMs, 1)) + 4);
        readings_.clear();
    }
    if (manual)
        return;
    if (!thread_) {
        thread_.reset(QThread::create([this] { run(); }));
        thread_->setObjectName(QStringLiteral("resting tick"));
        thread_->start();
    }
    if (restart_)
        changed_.wakeAll();
}

void RestingTicker::pause() {
    QMutexLocker lock(&mutex_);
    active_ = false;
}

void RestingTicker::take(std::vector<RestingReading> &out) {
    out.clear();
    QMutexLocker lock(&mutex_);
    out.swap(readings_);
    // The buffer handed out last time comes back for the next readings.
    readings_.reserve(out.capacity());
    woken_ = false;
}

void RestingTicker::readNow() {
    const RestingReading reading = read();
    QMutexLocker lock(&mutex_);
    if (active_)
        settle(reading);
}

RestingReading RestingTicker::read() {
    InterfaceRow row;
    qint32 index = 0;
    {
        QMutexLocker lock(&mutex_);
        index = plan_.index;
    }
    RestingReading reading;
    reading.read = source_.interfaceRow(index, row, InterfaceSource::Detail::Bytes);
    reading.atNs = clock_.nowNs();
    reading.in = row.inOctets;
    reading.out = row.outOctets;
    return reading;
}

void RestingTicker::settle(const RestingReading &reading) {
    bool quiet = false;
    const bool due = !readings_.empty() &&
                     reading.atNs - readings_.front().atNs >= qint64(plan_.catchUpMs) * 1000000;
    const bool wake = Resting::wakes(plan_, last_, lastQuiet_, reading, quiet) || due;
    readings_.push_back(reading);
    last_ = reading;
    lastQuiet_ = quiet;
    if (wake && !woken_) {
        woken_ = true;
        wake_();
    }
}

void RestingTicker::run() {
    QMutexLocker lock(&mutex_);
    QDeadlineTimer next;
    while (!quit_) {
        if (!active_) {
            changed_.wait(&mutex_);
            continue;
        }
        if (restart_) {
            restart_ = false;
            next = QDeadlineTimer(plan_.intervalMs, Qt::PreciseTimer);
        }
        if (!next.hasExpired()) {
            changed_.wait(&mutex_, next);
            continue;
        }
        lock.unlock();
        const RestingReading reading = read();
        lock.relock();
        if (!active_ || restart_)
            continue;
        settle(reading);
        // On the interval's beat, like a timer; a reading that came late
        // by more than an interval starts the beat again from now.
        next += plan_.intervalMs;
        if (next.hasExpired())
            next = QDeadlineTimer(plan_.intervalMs, Qt::PreciseTimer);
    }
}
