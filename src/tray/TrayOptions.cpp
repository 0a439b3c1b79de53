#include "settings/Registry.h"
#include "ui/frmMain.h"
#include "ui_frmMain.h"

#include <QCheckBox>

namespace {
const QString kIdleTip = QStringLiteral("Zarn Bandwidth");

QString checkText(const QCheckBox *box) {
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}

// Both options put up the idle picture and the plain tip behind the tick's
// back; the tick's memory of what it sent no longer matches the icon, so the
// next tick sends its picture and tip whatever they are.
void forgetTraySent(SamplerState &sampler) {
    sampler.lastTrayPicture.reset();
    sampler.lastTrayTip = TrayTip();
}
} // namespace

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
    forgetTraySent(sampler);
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
    forgetTraySent(sampler);
    if (!animateTrayIcon)
        trayIcon.modifyTrayIcon(TrayPicture::idle(), kIdleTip, this);
}
