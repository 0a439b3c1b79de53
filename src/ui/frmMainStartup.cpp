#include "Version.h"
#include "platform/Autostart.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

// Every reader below falls back to its default when the stored text does not
// convert or lies outside what the reader accepts (a hand-edited file, a
// value from another program). The stored text itself is left alone: only
// the user's next change of that option rewrites it.
namespace {

bool readFlag(const char *name, bool defaultValue) {
    const QString text = Registry::readSetting(
        QString::fromLatin1(name), defaultValue ? QStringLiteral("True") : QStringLiteral("False"));
    return Conversions::textToFlag(text).value_or(defaultValue);
}

Qt::CheckState readState(const char *name, Qt::CheckState defaultState) {
    const QString text = Registry::readSetting(QString::fromLatin1(name),
                                               Conversions::checkStateToText(defaultState));
    return Conversions::textToCheckState(text).value_or(defaultState);
}

// Indexes are whole numbers: "1.5" names no interface (the adapter list
// reads the setting by the same rule, so both agree on what is selected).
qint32 readWholeInt32(const char *name, qint32 defaultValue) {
    const QString text =
        Registry::readSetting(QString::fromLatin1(name), Conversions::intToText(defaultValue));
    return Conversions::textToWholeInt32(text).value_or(defaultValue);
}

// A threshold is stored as typed and shown as stored. A text longer than
// the box holds would be cut by the box, and the change handler would then
// store the cut text over the whole one; such a text is no threshold anyway,
// so the box stays empty and the stored text stays as it is.
QString thresholdText(const char *name, const QLineEdit *box) {
    const QString text = Registry::readSetting(QString::fromLatin1(name), QString());
    return text.size() <= box->maxLength() ? text : QString();
}

Qt::CheckState flagState(bool flag) {
    return flag ? Qt::Checked : Qt::Unchecked;
}

} // namespace

void frmMain::Form_Load() {
    // Giving a control another state or text below runs its handler at once,
    // before the next line: that is how the stored options take effect, and
    // why the order of these steps matters.
    enumerateAdapters(); // may select the stored adapter
    monitor->trackedAdapter = 0;

    showTrayIcon = readFlag("ShowTrayIcon", true);
    animateTrayIcon = readFlag("AnimateTrayIcon", true);
    showBandwidthInTray = readFlag("ShowBandwidthInTray", true);
    ui->chkShowBandwidth->setCheckState(flagState(showBandwidthInTray));
    ui->chkShowTrayIcon->setCheckState(flagState(showTrayIcon));
    ui->chkAnimateTrayIcon->setCheckState(flagState(animateTrayIcon));
    ui->chkMinimizeToTray->setCheckState(readState("MinimizeToTray", Qt::Checked));
    qint32 &selectedAdapter = monitor->selectedAdapter;
    selectedAdapter = readWholeInt32("Adapter", 0);
    // A stored index that now names another interface (indexes are handed
    // out afresh at boot) would show another interface's traffic: nothing is
    // monitored until an interface of the stored name appears.
    if (listedUnderAnotherName(selectedAdapter))
        selectedAdapter = 0;
    ui->chkStartupMinimized->setCheckState(readState("StartupMinimized", Qt::Unchecked));

    // A stored frequency the Update button would refuse is not shown either:
    // the box always shows the interval the timer really runs at.
    const QString defaultFrequency = Conversions::intToText(300);
    QString frequencyText =
        Registry::readSetting(QStringLiteral("UpdateFrequency"), defaultFrequency);
    if (Conversions::checkFrequency(frequencyText).check != Conversions::FrequencyCheck::Ok)
        frequencyText = defaultFrequency;
    ui->txtFrequency->setText(frequencyText);

    // Only the 16-bit Windows of old took the line-break form; on the Linux
    // tray hosts and on every NT-based Windows the parts of the tooltip are
    // joined with " - ".
    multiLineTooltip = false;

    QTimer *timer = monitor->tmrAdapterUpdate;
    timer->setInterval(Conversions::checkFrequency(ui->txtFrequency->text()).interval);
    timer->start(); // the first tick comes after start-up has returned

    if (showTrayIcon)
        trayIcon.addTrayIcon(TrayPicture::idle(), QStringLiteral("Zarn Bandwidth"), this);

    ui->txtYellowThreshold->setText(thresholdText("YellowThreshold", ui->txtYellowThreshold));
    ui->txtRedThreshold->setText(thresholdText("RedThreshold", ui->txtRedThreshold));
    ui->chkAutoAdjustThreshold->setCheckState(readState("AutoAdjustThreshold", Qt::Checked));
    updateThresholdControls();

    // An existing entry ticks the box, whose handler rewrites the entry for
    // the executable running now.
    const bool autostartPresent = platform.autostart && platform.autostart->exists();
    ui->chkStartWithWin->setCheckState(flagState(autostartPresent));

    // Started with the session: stay in the tray, but only when there is a
    // tray icon to come back through. The argument must match exactly. On a
    // desktop with no tray (or a panel that is not up yet) the window starts
    // minimised on the taskbar instead of vanishing.
    const bool startedWithSession =
        platform.argumentText == QLatin1String("-startup") && showTrayIcon;
    hiddenAtStartUp = startedWithSession && trayHoldsWindow();
    minimisedAtStartUp = startedWithSession && !hiddenAtStartUp;
    if (hiddenAtStartUp)
        hide();

    if (ui->cmdAdapters->currentIndex() != -1)
        cmdAdapters_Click();
    else
        ui->Tabs->setCurrentIndex(2); // the tab with the adapter list

    // "1.20": no point between the minor number and the revision.
    ui->lblVersion->setText(QStringLiteral("Zarn Bandwidth Version %1.%2%3")
                                .arg(zarn::kVersionMajor)
                                .arg(zarn::kVersionMinor)
                                .arg(zarn::kVersionRevision));
}

void frmMain::Form_Unload() {
    // Nothing is written here: every option was stored when it changed.
    trayIcon.deleteTrayIcon();
    if (frmMiniBandwidth *mini = miniWindow(false)) {
        mini->close();
        delete mini;
    }
    unloaded = true;
    QCoreApplication::quit();
}
