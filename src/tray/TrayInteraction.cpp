#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QUrl>

namespace {
const QString kBringUp = QStringLiteral("BringUp");
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
