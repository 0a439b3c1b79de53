#include "ui/frmMain.h"

#include "ui/Images.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

frmMain::frmMain(const Platform &platform_, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmMain>()), trayIcon(platform_.tray),
      platform(platform_) {
    ui->setupUi(this);
    setWindowIcon(Images::windowIcon());
    ui->Tabs->setTabIcon(0, Images::monitorTabIcon());
    ui->Tabs->setTabIcon(1, Images::optionsTabIcon());
    ui->Tabs->setTabIcon(2, Images::adapterTabIcon());

    tmrAdapterUpdate = new QTimer(this);
    tmrAdapterUpdate->setObjectName(QStringLiteral("tmrAdapterUpdate"));
    tmrAdapterUpdate->setTimerType(Qt::PreciseTimer);

    mPopup = new QMenu(QStringLiteral("popup"), this);
    mPopup->setObjectName(QStringLiteral("mPopup"));
    mShowDialog = mPopup->addAction(QStringLiteral("Show Main"));
    mShowDialog->setObjectName(QStringLiteral("mShowDialog"));
    mShowMini = mPopup->addAction(QStringLiteral("Show Mini Bandiwdth Monitor"));
    mShowMini->setObjectName(QStringLiteral("mShowMini"));
    msep1 = mPopup->addSeparator();
    msep1->setObjectName(QStringLiteral("msep1"));
    mExit = mPopup->addAction(QStringLiteral("E&xit"));
    mExit->setObjectName(QStringLiteral("mExit"));
    mPopup->setDefaultAction(mShowDialog);

    connectHandlers();
}

frmMain::~frmMain() {
    if (mini_)
        delete mini_.data();
}

frmMiniBandwidth *frmMain::miniWindow(bool create) {
    if (!mini_ && create)
        mini_ = new frmMiniBandwidth();
    return mini_.data();
}

void frmMain::startUp() {
    Form_Load();
    if (!hiddenAtStartUp && !unloaded)
        show();
}

void frmMain::connectHandlers() {
    // A control given another value by code runs its handler at once, just
    // as a user action would: stateChanged, textChanged and
    // currentIndexChanged fire synchronously for both (clicked does not).
    const auto onCheck = [this](QCheckBox *box, void (frmMain::*handler)()) {
        connect(box, &QCheckBox::stateChanged, this, handler);
    };
    onCheck(ui->chkShowTrayIcon, &frmMain::chkShowTrayIcon_Click);
    onCheck(ui->chkAnimateTrayIcon, &frmMain::chkAnimateTrayIcon_Click);
    onCheck(ui->chkAutoAdjustThreshold, &frmMain::chkAutoAdjustThreshold_Click);
    onCheck(ui->chkShowBandwidth, &frmMain::chkShowBandwidth_Click);
    onCheck(ui->chkMinimizeToTray, &frmMain::chkMinimizeToTray_Click);
    onCheck(ui->chkStartupMinimized, &frmMain::chkStartupMinimized_Click);
    onCheck(ui->chkStartWithWin, &frmMain::chkStartWithWin_Click);
    connect(ui->txtYellowThreshold, &QLineEdit::textChanged, this,
            &frmMain::txtYellowThreshold_Change);
    connect(ui->txtRedThreshold, &QLineEdit::textChanged, this, &frmMain::txtRedThreshold_Change);
    connect(ui->cmdUpdateFrequency, &QPushButton::clicked, this,
            &frmMain::cmdUpdateFrequency_Click);
    connect(ui->cmdAdapters, &QComboBox::currentIndexChanged, this, &frmMain::cmdAdapters_Click);
    connect(ui->lblZarnDev, &QLabel::linkActivated, this, &frmMain::lblZarnDev_Click);

    connect(tmrAdapterUpdate, &QTimer::timeout, this, &frmMain::tmrAdapterUpdate_Timer);
    connect(mShowDialog, &QAction::triggered, this, &frmMain::mShowDialog_Click);
    connect(mShowMini, &QAction::triggered, this, &frmMain::mShowMini_Click);
    connect(mExit, &QAction::triggered, this, &frmMain::mExit_Click);

    if (platform.tray) {
        platform.tray->onActivated = [this](TrayActivation reason) { trayActivated(reason); };
        platform.tray->setContextMenu(mPopup);
    }
}

void frmMain::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (!unloaded)
        Form_Unload();
    event->accept();
}
