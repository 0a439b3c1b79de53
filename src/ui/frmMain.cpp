#include "ui/frmMain.h"

#include "ui/Images.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
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
}

void frmMain::connectHandlers() {
    connect(tmrAdapterUpdate, &QTimer::timeout, this, &frmMain::tmrAdapterUpdate_Timer);
    connect(mShowDialog, &QAction::triggered, this, &frmMain::mShowDialog_Click);
    connect(mShowMini, &QAction::triggered, this, &frmMain::mShowMini_Click);
    connect(mExit, &QAction::triggered, this, &frmMain::mExit_Click);
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
