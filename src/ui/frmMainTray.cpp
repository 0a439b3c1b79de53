#include "monitor/RateText.h"
#include "settings/Registry.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QUrl>

namespace {
const QString kBringUp = QStringLiteral("BringUp");
const QString kIdleTip = QStringLiteral("Zarn Bandwidth");

QString checkText(const QCheckBox *box) {
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}
constexpr Qt::WindowStates kNotNormal =
    Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
} // namespace

const QUrl &frmMain::makerPage() {
    static const QUrl page(QStringLiteral("https://www.zarndev.example/"));
    return page;
}

void frmMain::trayActivated(TrayActivation reason) {
    switch (reason) {
    case TrayActivation::DoubleClick:
        mShowDialog_Click();
        break;
    case TrayActivation::Trigger:
        // A host that cannot report a double-click sends one "activate" per
        // click; it has to stand for the double-click, or the window could
        // only come back through the menu.
        if (platform.tray && !platform.tray->reportsDoubleClick())
            mShowDialog_Click();
        break;
    case TrayActivation::Context:     // the host opens mPopup itself
    case TrayActivation::MiddleClick: // other buttons do nothing
    case TrayActivation::Unknown:
        break;
    }
}

void frmMain::mShowDialog_Click() {
    // The marker keeps the state change that show and restore cause from
    // sending the window straight back to the tray (see Form_Resize).
    Tag = kBringUp;
    const bool wasHidden = !isVisible();
    show();
    setWindowState(windowState() & ~kNotNormal);
    // A window that start-up kept hidden comes back in its normal state, so
    // Qt reports no state change; its coming into view is the resize that
    // ends the marker. Without this, the first minimise after bringing the
    // program up from the tray would stay on the taskbar.
    if (wasHidden && Tag == kBringUp)
        Form_Resize();
    activateWindow();
    // Qt's raise stands for "topmost, then ordinary again": the window ends
    // above the others without staying on top.
    raise();
}

void frmMain::mShowMini_Click() {
    frmMiniBandwidth *mini = miniWindow(true);
    mini->setWindowState(mini->windowState() & ~Qt::WindowMinimized);
    mini->show(); // stays on top by its own window flags
    mini->raise();
    mini->activateWindow();
}

void frmMain::mExit_Click() {
    // Closing runs the same unload sequence as the close box.
    close();
}

bool frmMain::trayHoldsWindow() const {
    return showTrayIcon && platform.tray && platform.tray->isAvailable();
}

void frmMain::Form_Resize() {
    // With no tray on the desktop a hidden window could not be reached at
    // all: it stays minimised on the taskbar, as with the tray options off.
    if (Tag != kBringUp && windowState().testFlag(Qt::WindowMinimized) && trayHoldsWindow() &&
        ui->chkMinimizeToTray->isChecked())
        hide(); // stays minimised and loaded; the timer keeps running
    if (Tag == kBringUp)
        Tag.clear();
}

void frmMain::lblZarnDev_Click() {
    if (openUrl)
        openUrl(makerPage());
    else
        QDesktopServices::openUrl(makerPage());
}

// The order matters: the dependent boxes are enabled before the icon moves,
// and the setting is stored before the state field changes, so that a run
// set off by start-up leaves the same traces as a user's click.
void frmMain::chkShowTrayIcon_Click() {
    const bool shown = ui->chkShowTrayIcon->isChecked();
    ui->chkAnimateTrayIcon->setEnabled(shown);
    ui->chkMinimizeToTray->setEnabled(shown);
    ui->chkShowBandwidth->setEnabled(shown && ui->chkAnimateTrayIcon->isChecked());
    Registry::writeSetting(QStringLiteral("ShowTrayIcon"), checkText(ui->chkShowTrayIcon));
    showTrayIcon = shown;
    applyTrayOptions();
    if (shown)
        trayIcon.addTrayIcon(TrayPicture::idle(), kIdleTip, this);
    else
        trayIcon.deleteTrayIcon();
}

void frmMain::chkAnimateTrayIcon_Click() {
    Registry::writeSetting(QStringLiteral("AnimateTrayIcon"), checkText(ui->chkAnimateTrayIcon));
    animateTrayIcon = ui->chkAnimateTrayIcon->isChecked();
    ui->chkShowBandwidth->setEnabled(animateTrayIcon);
    ui->chkAutoAdjustThreshold->setEnabled(animateTrayIcon);
    updateThresholdControls();
    applyTrayOptions();
    if (!animateTrayIcon)
        trayIcon.modifyTrayIcon(TrayPicture::idle(), kIdleTip, this);
}

void frmMain::applyTrayOptions() {
    forgetTraySent();
    const bool animate = showTrayIcon && animateTrayIcon;
    monitor->setTrayOptions(
        {animate, ui->chkAutoAdjustThreshold->checkState() != Qt::Unchecked,
         animate && showBandwidthInTray && platform.tray && !platform.tray->tipsOnDemand()});
}

// Both tray options put up the idle picture and the plain tip behind the
// tick's back; what was sent no longer matches the icon, so the next tick
// sends its picture and tip whatever they are.
void frmMain::forgetTraySent() {
    lastTrayPicture_.reset();
    lastTrayTip_ = TrayTip();
}

void frmMain::handOff(TrayPicture picture) {
    const Figures &f = monitor->figures();
    const auto whole = [](const std::optional<double> &rate) {
        return rate ? RateText::roundedWhole(*rate) : std::nullopt;
    };
    const TrayTip tip =
        TrayTip::rates(whole(f.down), whole(f.up), showBandwidthInTray, multiLineTooltip);
    if (lastTrayPicture_ == picture && lastTrayTip_ == tip)
        return;
    lastTrayPicture_ = picture;
    lastTrayTip_ = tip;
    trayIcon.modifyTrayIcon(picture, tip, this);
}
