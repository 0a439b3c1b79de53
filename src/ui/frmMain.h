#pragma once

#include "adapters/InterfaceSource.h"
#include "app/Platform.h"
#include "monitor/RestingTicker.h"
#include "monitor/SamplerState.h"
#include "monitor/TickSample.h"
#include "tray/TrayHost.h"
#include "tray/TrayIcon.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
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
class ValueLabel;
namespace Ui {
class frmMain;
}

// The main window. It owns all program state. Its behaviour is split by
// concern across the source folders: start-up and options in app/, the
// adapter list in adapters/, the tick in monitor/, the tray in tray/.
class frmMain : public QWidget {
    Q_OBJECT

public:
    explicit frmMain(const Platform &platform, QWidget *parent = nullptr);
    ~frmMain() override;

    // Runs Form_Load, then shows the window unless start-up hid it.
    void startUp();

    // app/StartupShutdown.cpp
    void Form_Load();
    void Form_Unload();

    // app/Options.cpp
    void updateThresholdControls();
    void chkAutoAdjustThreshold_Click();
    void chkMinimizeToTray_Click();
    void chkShowBandwidth_Click();
    void chkStartupMinimized_Click();
    void chkStartWithWin_Click();
    void cmdUpdateFrequency_Click();
    void txtYellowThreshold_Change();
    void txtRedThreshold_Change();

    // adapters/AdapterSelection.cpp
    void enumerateAdapters();
    void refreshAdapters();
    bool listedUnderAnotherName(qint32 index) const;
    QString lookupIpAddress(qint32 index);
    void cmdAdapters_Click();
    // The details page (name, speed, type, address) for one interface.
    void showAdapterDetails(qint32 index);

    // monitor/Tick.cpp
    void tmrAdapterUpdate_Timer();
    // While no window is on screen the tick's readings are taken on the
    // resting ticker's thread (monitor/RestingTicker.h); the timer stops.
    // catchUp runs the tick over the readings taken since the last call and
    // goes on resting if nothing came on screen; leaveRest ends the rest
    // and starts the timer again. The tray calls catchUp before it shows
    // the tip, the resting thread whenever a reading changes what the
    // desktop shows.
    void catchUp();
    void leaveRest();
    bool atRest() const { return atRest_; }
    // Made at the first rest; a test may make its own first.
    std::unique_ptr<RestingTicker> resting;
    // The texts of the four value labels (sent, received, up, down). While
    // the window lives in the tray they are only kept here, and the labels
    // take them when it is shown again: a hidden label still lays out its
    // text and raises an accessibility event for every new one.
    void setValueText(QLabel *label, const QString &text);
    const QString &valueText(const QLabel *label) const;
    // A value label showing a whole number, grouped in threes. While the
    // window lives in the tray the number is kept and only written out when
    // its text is asked for or the window is shown.
    void setValueNumber(QLabel *label, qint64 value);
    // The number a value label shows; nullopt when its text is not one the
    // tick wrote from a number (empty, or written as text).
    std::optional<qint64> valueNumber(const QLabel *label) const;

    // tray/TrayOptions.cpp
    void chkShowTrayIcon_Click();
    void chkAnimateTrayIcon_Click();

    // tray/TrayInteraction.cpp
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
    QTimer *tmrAdapterUpdate = nullptr;
    QMenu *mPopup = nullptr;
    QAction *mShowDialog = nullptr;
    QAction *mShowMini = nullptr;
    QAction *mUsage = nullptr; // opens the Usage window (src/usagewindow)
    QAction *msep1 = nullptr;
    QAction *mExit = nullptr;

    // Program state.
    std::vector<qint32> adapterIndexes;
    std::vector<InterfaceRow> adapterRows; // the interface behind each list entry, by position
    qint32 selectedAdapter = 0;
    // The selected interface's name (setting "AdapterName"). Indexes do not
    // survive a reboot or a re-created link; the selection follows the name.
    QByteArray adapterName;
    bool showTrayIcon = false;
    bool animateTrayIcon = false;
    bool showBandwidthInTray = false;
    bool multiLineTooltip = false;
    SamplerState sampler;
    QString Tag;            // the window's one-shot "BringUp" marker
    QString trackedAdapter; // the timer's tag: index the sampler follows
    TrayIcon trayIcon;
    Platform platform;

    // Set by Form_Unload; tells a close by the window manager from one that
    // already went through the unload sequence.
    bool unloaded = false;
    // Set by Form_Load when the program was started with the session and
    // lives in the tray: startUp then leaves the window hidden.
    bool hiddenAtStartUp = false;
    // Set by Form_Load when it would have hidden the window but no tray
    // shows the icon: startUp then shows the window minimised.
    bool minimisedAtStartUp = false;

signals:
    // Emitted at the end of every tick with what it measured; the windows
    // beyond the main one (usage history, graph) listen here and nowhere else.
    void sampled(const TickSample &sample);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void connectHandlers();
    // The maker's link, in a blue the window's background lets be read.
    void showLink();
    bool livesInTray() const;
    // One tick; caughtUp is a reading the resting thread took, null for
    // one taken now.
    void tick(const RestingReading *caughtUp);
    void restIfUnseen(const InterfaceRow &row, const RestingReading &last);
    RestingPlan restingPlan(const RestingReading &last);
    bool tipTakesEveryRate() const;
    bool restFits();
    void replayReadings();
    bool atRest_ = false;
    std::vector<RestingReading> caughtUp_;
    InterfaceRow restingRow_;            // the name of the interface the readings are of
    std::unique_ptr<QObject> restWatch_; // tells the rest of windows that come and go
    QPointer<frmMiniBandwidth> mini_;
    struct KeptValue {
        ValueLabel *label;
        QString text;
        bool pending = false;         // not yet on the label
        std::optional<qint64> number; // what the text shows, when it is a number
        bool stale = false;           // text not yet written from number
    };
    KeptValue *keptValue(const QLabel *label) const;
    mutable std::array<KeptValue, 4> values_;
};
