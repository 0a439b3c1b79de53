#include "adapters/InterfaceSource.h"
#include "monitor/RateText.h"
#include "monitor/Sampler.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"
#include "ui_frmMiniBandwidth.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

// The sampling tick. Every step that could fail (an unreadable interface, an
// overflow, a zero interval) ends the tick where it stands: what earlier
// steps wrote stays, and the previous totals are only advanced by a tick that
// ran to the end, so the next tick measures from the last good one.

namespace {

// The timer's tag names the interface the sampler follows. Anything that does
// not read as an index means it follows none, so the selected one is adopted.
qint64 trackedIndex(const QString &tag) {
    bool ok = false;
    const qint64 index = tag.trimmed().toLongLong(&ok);
    return ok ? index : 0;
}

bool isOn(const QCheckBox *box) {
    return box->checkState() != Qt::Unchecked;
}

// The mini window repeats the main window's rounded rates in k/sec; it is left
// alone while hidden or while either rate label has no number yet.
void updateMiniWindow(frmMain &w) {
    frmMiniBandwidth *mini = w.miniWindow(false);
    if (!mini || !mini->isVisible())
        return;
    const auto up = RateText::kiloText(w.ui->lblUpBytes->text());
    const auto down = RateText::kiloText(w.ui->lblDownBytes->text());
    if (!up || !down)
        return;
    mini->ui->lblMiniUp->setText(*up);
    mini->ui->lblMiniDown->setText(*down);
}

// Writing the box runs its change handler, which stores the new threshold.
void adjustThreshold(QLineEdit *box, double candidate, qint64 topRate, bool autoAdjust) {
    const QString text = box->text();
    if (Sampler::raisesThreshold(text.isEmpty(), RateText::readNumber(text), candidate, topRate,
                                 autoAdjust))
        box->setText(RateText::twoDecimals(candidate));
}

// Tooltip, automatic thresholds, load levels and the hand-off to the tray.
// False when the tick has to end here.
bool trayStep(frmMain &w, const Sampler::Direction &down, const Sampler::Direction &up) {
    TrayPicture candidate = TrayPicture::idle();
    const QString tip = RateText::trayTip(w.ui->lblDownBytes->text(), w.ui->lblUpBytes->text(),
                                          w.showBandwidthInTray, w.multiLineTooltip);

    if (!(down.quiet() && up.quiet())) {
        const auto top =
            Sampler::topRate(down.difference(), up.difference(), w.tmrAdapterUpdate->interval());
        if (!top)
            return false;
        w.sampler.topRate = *top;
        const auto candidates = Sampler::thresholdCandidates(*top);
        if (!candidates)
            return false;
        const bool autoAdjust = isOn(w.ui->chkAutoAdjustThreshold);
        adjustThreshold(w.ui->txtYellowThreshold, candidates->yellow, *top, autoAdjust);
        adjustThreshold(w.ui->txtRedThreshold, candidates->red, *top, autoAdjust);

        // Thresholds that are not numbers leave the idle picture, but the
        // tip still goes out.
        const auto red = RateText::readNumber(w.ui->txtRedThreshold->text());
        const auto yellow = RateText::readNumber(w.ui->txtYellowThreshold->text());
        if (red && yellow) {
            const auto upRate = Sampler::rate(up.difference(), w.tmrAdapterUpdate->interval());
            if (!upRate)
                return false;
            const LoadLevel upLevel = Sampler::loadLevel(*upRate / 1000.0, *red, *yellow);
            const auto downRate = Sampler::rate(down.difference(), w.tmrAdapterUpdate->interval());
            if (!downRate)
                return false;
            const LoadLevel downLevel = Sampler::loadLevel(*downRate / 1000.0, *red, *yellow);
            candidate = TrayPicture{upLevel, downLevel};
        }
    }

    // A steady picture and tip cost the desktop nothing.
    if (w.sampler.lastTrayPicture != candidate || w.sampler.lastTrayTip != tip) {
        w.sampler.lastTrayPicture = candidate;
        w.sampler.lastTrayTip = tip;
        w.trayIcon.modifyTrayIcon(candidate, tip, &w);
    }
    return true;
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

    // A failed read (the interface went away) tells nothing about the
    // counters; taking it for zeros would count a phantom wrap. It also
    // breaks the series: the next good read may come from a link created
    // anew under the same index, or span several intervals, so it only takes
    // a fresh baseline instead of showing a rate.
    InterfaceRow row;
    row.index = selectedAdapter;
    if (!platform.interfaces || !platform.interfaces->interfaceRow(
                                    selectedAdapter, row, InterfaceSource::Detail::Counters)) {
        sampler.prevRecvTotal = 0;
        sampler.prevSentTotal = 0;
        return;
    }
    report.sample.name = row.name;

    if (trackedIndex(trackedAdapter) != selectedAdapter) {
        ui->lblAdapterName->setText(row.description);
        sampler.prevRecvTotal = 0;
        sampler.prevSentTotal = 0;
        // Wraps seen on another interface say nothing about this one.
        sampler.recvWraps = 0;
        sampler.sentWraps = 0;
        trackedAdapter = QString::number(selectedAdapter);
        return;
    }

    const auto recv = Sampler::foldCounter(row.inOctets, row.counterBits, sampler.recvWraps,
                                           sampler.prevRecvTotal);
    const auto sent = Sampler::foldCounter(row.outOctets, row.counterBits, sampler.sentWraps,
                                           sampler.prevSentTotal);
    if (!recv || !sent)
        return;
    sampler.recvTotal = recv->total;
    sampler.recvWraps = recv->wraps;
    sampler.sentTotal = sent->total;
    sampler.sentWraps = sent->wraps;
    const Sampler::Direction down{sampler.recvTotal, sampler.prevRecvTotal, recv->reset};
    const Sampler::Direction up{sampler.sentTotal, sampler.prevSentTotal, sent->reset};

    ui->lblSentBytes->setText(RateText::wholeNumber(sampler.sentTotal));
    ui->lblRecvBytes->setText(RateText::wholeNumber(sampler.recvTotal));
    if (down.hasRate()) {
        const auto r = Sampler::rate(down.difference(), tmrAdapterUpdate->interval());
        if (!r)
            return;
        ui->lblDownBytes->setText(RateText::wholeNumber(*r));
    }
    if (up.hasRate()) {
        const auto r = Sampler::rate(up.difference(), tmrAdapterUpdate->interval());
        if (!r)
            return;
        ui->lblUpBytes->setText(RateText::wholeNumber(*r));
    }

    updateMiniWindow(*this);

    if (showTrayIcon && animateTrayIcon && !trayStep(*this, down, up))
        return;

    sampler.prevRecvTotal = sampler.recvTotal;
    sampler.prevSentTotal = sampler.sentTotal;

    report.sample.measured = true;
    report.sample.recvTotal = sampler.recvTotal;
    report.sample.sentTotal = sampler.sentTotal;
    if (down.hasRate() && up.hasRate()) {
        const auto downRate = Sampler::rate(down.difference(), tmrAdapterUpdate->interval());
        const auto upRate = Sampler::rate(up.difference(), tmrAdapterUpdate->interval());
        report.sample.hasRates = downRate && upRate;
        report.sample.downRate = downRate.value_or(0);
        report.sample.upRate = upRate.value_or(0);
    }
}
