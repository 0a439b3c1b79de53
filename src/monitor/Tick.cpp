#include "adapters/InterfaceSource.h"
#include "monitor/MonotonicClock.h"
#include "monitor/RateText.h"
#include "monitor/Sampler.h"
#include "ui/ValueLabel.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"
#include "ui_frmMiniBandwidth.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>

// The sampling tick. Every step that could fail (an overflow) ends the tick
// where it stands: what earlier steps wrote stays, and the previous totals
// are only advanced by a tick that ran to the end, so the next tick measures
// from the last good one. Rates divide by the time that really passed since
// that tick's reading, on the platform's monotonic clock.

namespace {

// A text's value, read again only when the text changed.
template <typename T, typename Read>
const T &readBack(const QString &text, SamplerState::ReadText<T> &kept, Read read) {
    if (!text.isSharedWith(kept.text) && text != kept.text) {
        kept.value = read(text);
        kept.text = text;
    }
    return kept.value;
}

// The timer's tag names the interface the sampler follows. Anything that does
// not read as an index means it follows none, so the selected one is adopted.
qint64 trackedIndex(const QString &tag, SamplerState::ReadText<qint64> &kept) {
    return readBack(tag, kept, [](const QString &text) {
        bool ok = false;
        const qint64 index = text.trimmed().toLongLong(&ok);
        return ok ? index : 0;
    });
}

bool isOn(const QCheckBox *box) {
    return box->checkState() != Qt::Unchecked;
}

// A rate label as kbyte/sec text, from the number it shows where it shows one.
std::optional<QString> kiloText(const frmMain &w, const QLabel *label) {
    if (const auto number = w.valueNumber(label))
        return RateText::kiloText(*number);
    return RateText::kiloText(w.valueText(label));
}

// The mini window repeats the main window's rounded rates in k/sec; it is left
// alone while hidden or while either rate label has no number yet.
void updateMiniWindow(frmMain &w) {
    frmMiniBandwidth *mini = w.miniWindow(false);
    if (!mini || !mini->isVisible())
        return;
    const auto up = kiloText(w, w.ui->lblUpBytes);
    const auto down = kiloText(w, w.ui->lblDownBytes);
    if (!up || !down)
        return;
    showFigure(mini->ui->lblMiniUp, *up);
    showFigure(mini->ui->lblMiniDown, *down);
}

// A threshold box as a number, read again only when its text changed.
const std::optional<double> &threshold(const QLineEdit *box, SamplerState::ReadThreshold &read) {
    return readBack(box->text(), read,
                    [](const QString &text) { return RateText::readNumber(text); });
}

// Writing the box runs its change handler, which stores the new threshold.
// The threshold as the box has it afterwards.
std::optional<double> adjustThreshold(QLineEdit *box, SamplerState::ReadThreshold &read,
                                      double candidate, qint64 topRate, bool autoAdjust) {
    const std::optional<double> &current = threshold(box, read);
    if (!Sampler::raisesThreshold(read.text.isEmpty(), current, candidate, topRate, autoAdjust))
        return current;
    box->setText(RateText::twoDecimals(candidate));
    return threshold(box, read);
}

// The tray is told only when the picture or the tip changed: a steady load
// costs the desktop nothing.
void handOff(frmMain &w, TrayPicture picture, const TrayTip &tip) {
    if (w.sampler.lastTrayPicture == picture && w.sampler.lastTrayTip == tip)
        return;
    w.sampler.lastTrayPicture = picture;
    w.sampler.lastTrayTip = tip;
    w.trayIcon.modifyTrayIcon(picture, tip, &w);
}

TrayTip currentTip(const frmMain &w) {
    const auto down = w.valueNumber(w.ui->lblDownBytes);
    const auto up = w.valueNumber(w.ui->lblUpBytes);
    if (down && up)
        return TrayTip::rates(down, up, w.showBandwidthInTray, w.multiLineTooltip);
    return RateText::trayTip(w.valueText(w.ui->lblDownBytes), w.valueText(w.ui->lblUpBytes),
                             w.showBandwidthInTray, w.multiLineTooltip);
}

// Tooltip, automatic thresholds, load levels and the hand-off to the tray.
// False when the tick has to end here.
bool trayStep(frmMain &w, const Sampler::Direction &down, const Sampler::Direction &up,
              double elapsedMs) {
    TrayPicture candidate = TrayPicture::idle();
    const TrayTip tip = currentTip(w);

    if (!(down.quiet() && up.quiet())) {
        const auto top = Sampler::topRate(down.difference(), up.difference(), elapsedMs);
        if (!top)
            return false;
        w.sampler.topRate = *top;
        const auto candidates = Sampler::thresholdCandidates(*top);
        if (!candidates)
            return false;
        const bool autoAdjust = isOn(w.ui->chkAutoAdjustThreshold);
        const auto yellow = adjustThreshold(w.ui->txtYellowThreshold, w.sampler.yellow,
                                            candidates->yellow, *top, autoAdjust);
        const auto red = adjustThreshold(w.ui->txtRedThreshold, w.sampler.red, candidates->red,
                                         *top, autoAdjust);

        // Thresholds that are not numbers leave the idle picture, but the
        // tip still goes out.
        const auto picture =
            Sampler::trayPicture(down.difference(), up.difference(), elapsedMs, red, yellow);
        if (!picture)
            return false;
        candidate = *picture;
    }
    handOff(w, candidate, tip);
    return true;
}

// While the selected interface cannot be read, nothing is measured: the
// rates, the mini window and the tip say so rather than repeat figures from
// before, and the tray shows the idle picture. The totals stay.
void showNothingMeasured(frmMain &w) {
    w.setValueText(w.ui->lblDownBytes, QString());
    w.setValueText(w.ui->lblUpBytes, QString());
    if (frmMiniBandwidth *mini = w.miniWindow(false); mini && mini->isVisible()) {
        mini->ui->lblMiniUp->clear();
        mini->ui->lblMiniDown->clear();
    }
    if (w.showTrayIcon && w.animateTrayIcon)
        handOff(w, TrayPicture::idle(), currentTip(w));
}

// The sampler follows the selected interface from now on, from a fresh start.
void adopt(frmMain &w, const QString &name) {
    w.ui->lblAdapterName->setText(name);
    w.sampler.hasPrevious = false;
    // Wraps seen on another interface say nothing about this one.
    w.sampler.recvWraps = 0;
    w.sampler.sentWraps = 0;
    w.trackedAdapter = QString::number(w.selectedAdapter);
}

void showRate(frmMain &w, QLabel *label, double rate) {
    if (const auto whole = RateText::roundedWhole(rate))
        w.setValueNumber(label, *whole);
    else
        w.setValueText(label, RateText::wholeNumber(rate));
}

// Hands what the tick measured to the listeners of frmMain::sampled however
// the tick ends, so that a tick that stops early still reports "nothing".
class SampleReport {
public:
    explicit SampleReport(frmMain &w) : w_(w) { sample.index = w.selectedAdapter; }
    ~SampleReport() { emit w_.sampled(sample); }
    SampleReport(const SampleReport &) = delete;
    SampleReport &operator=(const SampleReport &) = delete;
    TickSample sample;

private:
    frmMain &w_;
};

} // namespace

void frmMain::tmrAdapterUpdate_Timer() {
    // Somebody started the timer again while the readings went elsewhere.
    if (atRest_)
        leaveRest();
    tick(nullptr);
}

void frmMain::tick(const RestingReading *caughtUp) {
    SampleReport report(*this);
    if (!sampler.firstTickDone) {
        if (isOn(ui->chkStartupMinimized))
            setWindowState(windowState() | Qt::WindowMinimized);
        sampler.firstTickDone = true;
    }

    if (selectedAdapter == 0) {
        ui->lblAdapterName->setText(QStringLiteral("No adapter selected"));
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
        report.sample.lateMs = (platform.clock->nowNs() - readAt) / 1000000;
    } else {
        read = platform.interfaces && platform.interfaces->interfaceRow(
                                          selectedAdapter, row, InterfaceSource::Detail::Counters);
        // Without a clock every tick counts as exactly one interval.
        readAt = platform.clock ? platform.clock->nowNs()
                                : sampler.prevReadAt + qint64(interval) * 1000000;
    }
    const bool adopting = trackedIndex(trackedAdapter, sampler.tracked) != selectedAdapter;

    // A failed read (the interface went away) tells nothing about the
    // counters; taking it for zeros would count a phantom wrap. It also
    // breaks the series: the next good read may come from a link created
    // anew under the same index, or span several intervals, so it only takes
    // a fresh baseline instead of showing a rate.
    if (!read) {
        sampler.hasPrevious = false;
        if (adopting) {
            // Nothing read yet: the name is the one the details page found
            // when the interface was selected, and the totals of the
            // interface followed so far are not this one's.
            adopt(*this, ui->lblInfoAdapterName->text());
            setValueText(ui->lblSentBytes, QString());
            setValueText(ui->lblRecvBytes, QString());
        }
        showNothingMeasured(*this);
        return;
    }
    report.sample.name = row.name;

    if (adopting) {
        adopt(*this, row.description);
        return;
    }

    const auto recv = Sampler::foldCounter(row.inOctets, row.counterBits, sampler.recvWraps,
                                           sampler.hasPrevious ? sampler.prevRecvTotal : 0);
    const auto sent = Sampler::foldCounter(row.outOctets, row.counterBits, sampler.sentWraps,
                                           sampler.hasPrevious ? sampler.prevSentTotal : 0);
    if (!recv || !sent)
        return;
    sampler.recvTotal = recv->total;
    sampler.recvWraps = recv->wraps;
    sampler.sentTotal = sent->total;
    sampler.sentWraps = sent->wraps;
    // A gap far beyond the interval, or no time at all, is a break in the
    // series like a failed read: this tick becomes the new baseline.
    const std::optional<double> elapsed =
        sampler.hasPrevious ? Sampler::elapsedMs(sampler.prevReadAt, readAt, interval)
                            : std::nullopt;
    const Sampler::Direction down{sampler.recvTotal, sampler.prevRecvTotal, elapsed.has_value(),
                                  recv->reset};
    const Sampler::Direction up{sampler.sentTotal, sampler.prevSentTotal, elapsed.has_value(),
                                sent->reset};
    const double elapsedMs = elapsed.value_or(0);
    sampler.quiet = down.quiet() && up.quiet();

    setValueNumber(ui->lblSentBytes, sampler.sentTotal);
    setValueNumber(ui->lblRecvBytes, sampler.recvTotal);
    std::optional<double> downRate;
    std::optional<double> upRate;
    if (down.hasRate()) {
        downRate = Sampler::rate(down.difference(), elapsedMs);
        if (!downRate)
            return;
        showRate(*this, ui->lblDownBytes, *downRate);
    }
    if (up.hasRate()) {
        upRate = Sampler::rate(up.difference(), elapsedMs);
        if (!upRate)
            return;
        showRate(*this, ui->lblUpBytes, *upRate);
    }

    updateMiniWindow(*this);

    if (showTrayIcon && animateTrayIcon && !trayStep(*this, down, up, elapsedMs))
        return;

    sampler.hasPrevious = true;
    sampler.prevRecvTotal = sampler.recvTotal;
    sampler.prevSentTotal = sampler.sentTotal;
    sampler.prevReadAt = readAt;

    report.sample.measured = true;
    report.sample.recvTotal = sampler.recvTotal;
    report.sample.sentTotal = sampler.sentTotal;
    report.sample.hasRates = downRate && upRate;
    report.sample.downRate = downRate.value_or(0);
    report.sample.upRate = upRate.value_or(0);
    if (!caughtUp)
        restIfUnseen(row, {row.inOctets, row.outOctets, readAt, true});
}

namespace {

// A window the user sees, not the tray icon's own.
bool usersWindow(const frmMain &w, const QObject *window) {
    return !(w.platform.tray && w.platform.tray->ownsWindow(window));
}

// Whether a window of the program is on screen.
bool anyWindowShown(const frmMain &w) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [&w](const QWidget *window) {
        return window->isVisible() && usersWindow(w, window);
    });
}

// A window that comes up ends the rest before it paints. Watched for good
// once the tick may rest: a window that goes away is the only reason to look
// for one on screen again, which takes a walk over every widget.
class RestWatch final : public QObject {
public:
    explicit RestWatch(frmMain &w) : w_(w) {}
    bool windowWent = true; // since the last look for a window on screen
    bool eventFilter(QObject *watched, QEvent *event) override {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow() && usersWindow(w_, watched)) {
            if (type == QEvent::Hide)
                windowWent = true;
            else
                w_.leaveRest();
        }
        return false;
    }

private:
    frmMain &w_;
};

} // namespace

RestingPlan frmMain::restingPlan(const RestingReading &last) {
    RestingPlan plan;
    plan.index = selectedAdapter;
    plan.intervalMs = tmrAdapterUpdate->interval();
    plan.last = last;
    plan.animate = showTrayIcon && animateTrayIcon;
    plan.picture = sampler.lastTrayPicture;
    plan.yellow = threshold(ui->txtYellowThreshold, sampler.yellow);
    plan.red = threshold(ui->txtRedThreshold, sampler.red);
    plan.yellowEmpty = sampler.yellow.text.isEmpty();
    plan.redEmpty = sampler.red.text.isEmpty();
    plan.autoAdjust = isOn(ui->chkAutoAdjustThreshold);
    plan.tipShowsRates = tipTakesEveryRate();
    return plan;
}

bool frmMain::tipTakesEveryRate() const {
    return showTrayIcon && animateTrayIcon && showBandwidthInTray && platform.tray &&
           !platform.tray->tipsOnDemand();
}

// A tray host that must hear every new rate would wake the window on every
// tick anyway while bytes move: the tick then stays on this thread, and rests
// from the next quiet tick.
bool frmMain::restFits() {
    if (isVisible() || !sampler.hasPrevious || !(sampler.quiet || !tipTakesEveryRate()))
        return false;
    auto &watch = static_cast<RestWatch &>(*restWatch_);
    if (watch.windowWent)
        watch.windowWent = !anyWindowShown(*this);
    return watch.windowWent;
}

void frmMain::restIfUnseen(const InterfaceRow &row, const RestingReading &last) {
    if (!platform.restingInterfaces || !platform.clock || !tmrAdapterUpdate->isActive())
        return;
    if (!restWatch_) {
        restWatch_ = std::make_unique<RestWatch>(*this);
        qApp->installEventFilter(restWatch_.get());
    }
    if (!restFits())
        return;
    if (!resting)
        resting =
            std::make_unique<RestingTicker>(*platform.restingInterfaces, *platform.clock, [this] {
                QMetaObject::invokeMethod(this, &frmMain::catchUp, Qt::QueuedConnection);
            });
    // The readings are of this interface, under this name: a change of
    // either comes as a notification, which ends the rest first.
    restingRow_ = row;
    tmrAdapterUpdate->stop();
    atRest_ = true;
    resting->resume(restingPlan(last));
}

void frmMain::replayReadings() {
    resting->take(caughtUp_);
    for (const RestingReading &reading : caughtUp_)
        tick(&reading);
}

void frmMain::catchUp() {
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

void frmMain::leaveRest() {
    if (!atRest_)
        return;
    atRest_ = false;
    resting->pause();
    replayReadings();
    if (!tmrAdapterUpdate->isActive())
        tmrAdapterUpdate->start();
}
