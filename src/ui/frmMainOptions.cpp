#include "platform/Autostart.h"
#include "platform/MessageBoxes.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "ui/frmMain.h"
#include "ui_frmMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

namespace {

QString stateText(const QCheckBox *box) {
    return Conversions::checkStateToText(box->checkState());
}

} // namespace

void frmMain::updateThresholdControls() {
    // The manual thresholds can be edited only while automatic adjustment is
    // offered (the box itself is enabled) and switched off. A greyed box
    // counts as "not ticked". The box's own enabled flag is what counts,
    // not whether its tab or window happens to be enabled.
    const QCheckBox *autoAdjust = ui->chkAutoAdjustThreshold;
    const bool manual = autoAdjust->isEnabledTo(this) && autoAdjust->checkState() != Qt::Checked;
    ui->txtYellowThreshold->setEnabled(manual);
    ui->lblYellowIconThreshold->setEnabled(manual);
    ui->lblYellowKsec->setEnabled(manual);
    ui->lblRedKsec->setEnabled(manual);
    ui->txtRedThreshold->setEnabled(manual);
    ui->lblRedIconThreshold->setEnabled(manual);
}

void frmMain::chkAutoAdjustThreshold_Click() {
    Registry::writeSetting(QStringLiteral("AutoAdjustThreshold"),
                           stateText(ui->chkAutoAdjustThreshold));
    updateThresholdControls();
    applyTrayOptions();
}

void frmMain::chkMinimizeToTray_Click() {
    Registry::writeSetting(QStringLiteral("MinimizeToTray"), stateText(ui->chkMinimizeToTray));
}

void frmMain::chkShowBandwidth_Click() {
    Registry::writeSetting(QStringLiteral("ShowBandwidthInTray"), stateText(ui->chkShowBandwidth));
    showBandwidthInTray = ui->chkShowBandwidth->checkState() != Qt::Unchecked;
    applyTrayOptions();
}

void frmMain::chkStartupMinimized_Click() {
    Registry::writeSetting(QStringLiteral("StartupMinimized"), stateText(ui->chkStartupMinimized));
}

void frmMain::chkStartWithWin_Click() {
    if (!platform.autostart)
        return;
    // The entry names the executable that is running now, so that ticking
    // the box (or start-up finding an entry) always points the session at
    // this very program, wherever it was moved to.
    if (ui->chkStartWithWin->checkState() != Qt::Unchecked)
        platform.autostart->enable(platform.programPath);
    else
        platform.autostart->disable();
}

void frmMain::cmdUpdateFrequency_Click() {
    const QString text = ui->txtFrequency->text();
    const Conversions::Frequency frequency = Conversions::checkFrequency(text);
    switch (frequency.check) {
    case Conversions::FrequencyCheck::NotNumeric:
        if (platform.messages)
            platform.messages->show(this, QStringLiteral("Frequency is not numeric!"),
                                    QStringLiteral("Non-numeric"), MessageBoxes::Icon::Stop);
        return;
    case Conversions::FrequencyCheck::OutOfRange:
        if (platform.messages)
            platform.messages->show(this,
                                    QStringLiteral("Frequency must be between 1 and 60000 ms!"),
                                    QStringLiteral("Invalid frequency"), MessageBoxes::Icon::Stop);
        return;
    case Conversions::FrequencyCheck::Ok:
        break;
    }
    // Stopping and starting again restarts the interval: the next tick comes
    // one full new interval after the press.
    QTimer *timer = monitor->tmrAdapterUpdate;
    timer->stop();
    Registry::writeSetting(QStringLiteral("UpdateFrequency"), text);
    timer->setInterval(frequency.interval);
    timer->start();
}

void frmMain::txtYellowThreshold_Change() {
    Registry::writeSetting(QStringLiteral("YellowThreshold"), ui->txtYellowThreshold->text());
    monitor->setThreshold(Monitor::Threshold::Yellow, ui->txtYellowThreshold->text());
}

void frmMain::txtRedThreshold_Change() {
    Registry::writeSetting(QStringLiteral("RedThreshold"), ui->txtRedThreshold->text());
    monitor->setThreshold(Monitor::Threshold::Red, ui->txtRedThreshold->text());
}
