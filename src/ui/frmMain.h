#pragma once

#include "adapters/InterfaceSource.h"
#include "monitor/Monitor.h"
#include "platform/Platform.h"
#include "tray/TrayHost.h"
#include "tray/TrayIcon.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QUrl;
class frmMiniBandwidth;
namespace Ui {
class frmMain;
}

// The main window: the form's controls and their handlers, and the view of
// the monitor (monitor/Monitor.h) on the Monitor page and in the tray. Its
// handlers are split by concern: frmMainStartup.cpp (start-up and
// shutdown), frmMainOptions.cpp (the options page), frmMainAdapters.cpp
// (the adapter list and details), frmMainTray.cpp (the tray icon, its
// options and the window states).
class frmMain : public QWidget {
    Q_OBJECT

public:
    explicit frmMain(const Platform &platform, QWidget *parent = nullptr);
    ~frmMain() override;

    // Runs Form_Load, then shows the window unless start-up hid it.
    void startUp();

    // frmMainStartup.cpp
    void Form_Load();
    void Form_Unload();

    // frmMainOptions.cpp
    void updateThresholdControls();
    void chkAutoAdjustThreshold_Click();
    void chkMinimizeToTray_Click();
    void chkShowBandwidth_Click();
    void chkStartupMinimized_Click();
    void chkStartWithWin_Click();
    void cmdUpdateFrequency_Click();
    void txtYellowThreshold_Change();
    void txtRedThreshold_Change();

    // frmMainAdapters.cpp
    void enumerateAdapters();
    void refreshAdapters();
    bool listedUnderAnotherName(qint32 index) const;
    QString lookupIpAddress(qint32 index);
    void cmdAdapters_Click();
    // The details page (name, speed, type, address) for one interface.
    void showAdapterDetails(qint32 index);

    // frmMainTray.cpp
    void chkShowTrayIcon_Click();
    void chkAnimateTrayIcon_Click();
    void trayActivated(TrayActivation reason);
    void mShowDialog_Click();
    void mShowMini_Click();
    void mExit_Click();
    void Form_Resize();
    // The tray icon is wanted and a tray on the desktop shows it: only then
    // may the window leave the screen and the taskbar.
    bool trayHoldsWindow() const;
    void lblZarnDev_Click();
    static const QUrl &makerPage(); // the address behind lblZarnDev

    // Opens a web page; empty means the desktop's default browser
    // (QDesktopServices). Tests set it so that no browser starts.
    std::function<bool(const QUrl &)> openUrl;

    // The mini window, created on first use when create is true; null while
    // it does not exist and create is false.
    frmMiniBandwidth *miniWindow(bool create);

    // Controls, reached by name as the rest of the program and the tests do.
    std::unique_ptr<Ui::frmMain> ui;
    QMenu *mPopup = nullptr;
    QAction *mShowDialog = nullptr;
    QAction *mShowMini = nullptr;
    QAction *mUsage = nullptr; // opens the Usage window (src/usagewindow)
    QAction *msep1 = nullptr;
    QAction *mExit = nullptr;

    // Program state.
    std::vector<qint32> adapterIndexes;
    std::vector<InterfaceRow> adapterRows; // the interface behind each list entry, by position
    // The selected interface's name (setting "AdapterName"). Indexes do not
    // survive a reboot or a re-created link; the selection follows the name.
    QByteArray adapterName;
    bool showTrayIcon = false;
    bool animateTrayIcon = false;
    bool showBandwidthInTray = false;
    bool multiLineTooltip = false;
    QString Tag; // the window's one-shot "BringUp" marker
    TrayIcon trayIcon;
    Platform platform;
    // The timer, the selected interface and what the tick keeps.
    Monitor *const monitor;

    // Set by Form_Unload; tells a close by the window manager from one that
    // already went through the unload sequence.
    bool unloaded = false;
    // Set by Form_Load when the program was started with the session and
    // lives in the tray: startUp then leaves the window hidden.
    bool hiddenAtStartUp = false;
    // Set by Form_Load when it would have hidden the window but no tray
    // shows the icon: startUp then shows the window minimised.
    bool minimisedAtStartUp = false;

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void connectHandlers();
    // The maker's link, in a blue the window's background lets be read.
    void showLink();
    // What a tick measured: the Monitor page while on screen, the tray
    // when it shows load levels.
    void showSample(const TickSample &sample);
    void showFigures();
    // The tray options as the monitor needs them; after every change.
    void applyTrayOptions();
    // Tells the tray the picture, and the tip from the rates shown, when
    // either changed; forgetting what was sent makes the next one go out.
    void handOff(TrayPicture picture);
    void forgetTraySent();
    bool firstSampleShown_ = false;
    // What was last handed to the tray, so that a steady load costs the
    // desktop nothing.
    std::optional<TrayPicture> lastTrayPicture_;
    TrayTip lastTrayTip_;
    QPointer<frmMiniBandwidth> mini_;
};
