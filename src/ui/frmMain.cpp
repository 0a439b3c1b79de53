#include "ui/frmMain.h"

#include "adapters/InterfaceSource.h"
#include "monitor/RateText.h"
#include "ui/Contrast.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/TabPages.h"
#include "ui/ValueLabel.h"
#include "ui/frmMiniBandwidth.h"
#include "ui_frmMain.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTimer>

namespace {

const QString kMakerAddress = QStringLiteral("https://www.zarndev.example/");
const QString kMakerText = QStringLiteral("www.zarndev.example");
const QColor kLinkBlue(0, 0, 255);

// Labels marked auto-sized in the form take the size of their text, which is
// known only once the window's font is in place.
void autoSizeLabels(QWidget *window) {
    for (QLabel *label : window->findChildren<QLabel *>())
        if (label->property("autoSized").toBool())
            label->adjustSize();
}

// Puts the window's client area in the middle of the screen it will open on.
void centreOnScreen(QWidget *window) {
    if (const QScreen *screen = window->screen())
        window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window->size(),
                                                screen->availableGeometry()));
}

} // namespace

frmMain::frmMain(const Platform &platform_, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmMain>()),
      trayIcon(platform_.tray, &Images::trayIcon), platform(platform_),
      monitor(
          new Monitor(platform_.interfaces, platform_.clock, platform_.restingInterfaces, this)) {
    Fonts::ensureTahoma();
    ui->setupUi(this);
    // A fixed dialog: close and minimise boxes, no maximise box, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFont(Fonts::dialogFont());
    ui->Tabs->setFont(Fonts::dialogFont());
    setFixedSize(324, 277);
    setWindowIcon(Images::windowIcon());

    // The maker's page: bold, underlined, blue, and a hand to show it can be
    // clicked. The click itself arrives as linkActivated.
    ui->lblZarnDev->setTextFormat(Qt::RichText);
    QFont linkFont = ui->lblZarnDev->font();
    linkFont.setBold(true);
    linkFont.setUnderline(true);
    ui->lblZarnDev->setFont(linkFont);
    ui->lblZarnDev->setCursor(Qt::PointingHandCursor);
    showLink();

    ui->Tabs->setIconSize(QSize(16, 16));
    ui->Tabs->setTabIcon(0, Images::monitorTabIcon());
    ui->Tabs->setTabIcon(1, Images::optionsTabIcon());
    ui->Tabs->setTabIcon(2, Images::adapterTabIcon());

    // The picture holders keep the sixteen tray pictures; only the two
    // samples on the options page are ever seen.
    const qreal ratio = devicePixelRatioF();
    for (LoadLevel up : {LoadLevel::Red, LoadLevel::Yellow, LoadLevel::Green, LoadLevel::None})
        for (LoadLevel down :
             {LoadLevel::Red, LoadLevel::Yellow, LoadLevel::Green, LoadLevel::None}) {
            const TrayPicture picture{up, down};
            if (auto *holder = findChild<QLabel *>(picture.name()))
                holder->setPixmap(Images::trayIcon(picture).pixmap(QSize(16, 16), ratio));
        }

    // Tab moves through the options, then to the tab row, then to the
    // adapter list. The tab row is where the tab control takes the focus,
    // and where the focus starts: the Monitor page has no control, and a
    // window without a focus takes neither Tab nor Ctrl+Tab.
    if (auto *tabRow = ui->Tabs->findChild<QTabBar *>()) {
        QWidget::setTabOrder(ui->cmdUpdateFrequency, tabRow);
        QWidget::setTabOrder(tabRow, ui->cmdAdapters);
        tabRow->setFocus();
    }

    autoSizeLabels(this);
    new TabPagePlacer(ui->Tabs);

    // Interface descriptions may hold '<' and '&': never markup.
    ui->lblAdapterName->setTextFormat(Qt::PlainText);
    ui->Tabs->setCurrentIndex(0);
    centreOnScreen(this);

    mPopup = new QMenu(QStringLiteral("popup"), this);
    mPopup->setObjectName(QStringLiteral("mPopup"));
    mShowDialog = mPopup->addAction(QStringLiteral("Show Main"));
    mShowDialog->setObjectName(QStringLiteral("mShowDialog"));
    mShowMini = mPopup->addAction(QStringLiteral("Show Mini Bandiwdth Monitor"));
    mShowMini->setObjectName(QStringLiteral("mShowMini"));
    // Whoever offers the Usage window connects to this item; the three
    // commands around it keep their order and access keys.
    mUsage = mPopup->addAction(QStringLiteral("&Usage"));
    mUsage->setObjectName(QStringLiteral("mUsage"));
    msep1 = mPopup->addSeparator();
    msep1->setObjectName(QStringLiteral("msep1"));
    mExit = mPopup->addAction(QStringLiteral("E&xit"));
    mExit->setObjectName(QStringLiteral("mExit"));
    mPopup->setDefaultAction(mShowDialog);

    connectHandlers();
}

frmMain::~frmMain() {
    if (platform.interfaces)
        platform.interfaces->watch({});
    if (mini_)
        delete mini_.data();
}

frmMiniBandwidth *frmMain::miniWindow(bool create) {
    if (!mini_ && create)
        mini_ = new frmMiniBandwidth(monitor);
    return mini_.data();
}

void frmMain::startUp() {
    Form_Load();
    if (hiddenAtStartUp || unloaded)
        return;
    if (minimisedAtStartUp)
        showMinimized();
    else
        show();
}

void frmMain::connectHandlers() {
    // A control given another value by code runs its handler at once, just
    // as a user action would: stateChanged, textChanged and
    // currentIndexChanged fire synchronously for both (clicked does not).
    const auto onCheck = [this](QCheckBox *box, void (frmMain::*handler)()) {
        // A stored "2" shows the box greyed, which makes a Qt check box
        // three-state for good. A user's click only ever gives clear or
        // ticked: the first click ticks the greyed box, and from then on
        // clicks toggle between the two.
        connect(box, &QCheckBox::stateChanged, box, [box](int state) {
            if (state != Qt::PartiallyChecked)
                box->setTristate(false);
        });
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

    connect(monitor, &Monitor::sampled, this, &frmMain::showSample);
    connect(monitor, &Monitor::thresholdRaised, this,
            [this](Monitor::Threshold which, const QString &text) {
                // The box's change handler stores the text and hands it back.
                (which == Monitor::Threshold::Yellow ? ui->txtYellowThreshold : ui->txtRedThreshold)
                    ->setText(text);
            });
    monitor->watch(this);
    connect(mShowDialog, &QAction::triggered, this, &frmMain::mShowDialog_Click);
    connect(mShowMini, &QAction::triggered, this, &frmMain::mShowMini_Click);
    connect(mExit, &QAction::triggered, this, &frmMain::mExit_Click);

    if (platform.tray) {
        platform.tray->onActivated = [this](TrayActivation reason) { trayActivated(reason); };
        platform.tray->onTipWanted = [this] { monitor->catchUp(); };
        platform.tray->setContextMenu(mPopup);
    }
}

void frmMain::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
    else if (event->type() == QEvent::PaletteChange)
        showLink(); // the desktop went dark, or light again
}

void frmMain::showLink() {
    // Pure blue on a light window, a lighter blue on a dark one: on dark
    // grey pure blue can hardly be read.
    const QColor blue = Contrast::readableOn(kLinkBlue, palette().color(QPalette::Window), 4.5);
    ui->lblZarnDev->setText(QStringLiteral("<a href=\"%1\" style=\"color:%3; "
                                           "text-decoration:underline\">%2</a>")
                                .arg(kMakerAddress, kMakerText, blue.name()));
    QPalette linkPalette = ui->lblZarnDev->palette();
    for (QPalette::ColorRole role : {QPalette::Link, QPalette::LinkVisited, QPalette::WindowText})
        linkPalette.setColor(role, blue);
    ui->lblZarnDev->setPalette(linkPalette);
}

void frmMain::showEvent(QShowEvent *event) {
    // The figures catch up before the window's first paint.
    showFigures();
    QWidget::showEvent(event);
    // The focus marked from the start, so that the keyboard's user sees
    // where it is before the first key; hiding the window drops the mark.
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void frmMain::showSample(const TickSample &sample) {
    if (!firstSampleShown_) {
        firstSampleShown_ = true;
        if (ui->chkStartupMinimized->checkState() != Qt::Unchecked)
            setWindowState(windowState() | Qt::WindowMinimized);
    }
    if (sample.picture)
        handOff(*sample.picture);
    // Hidden in the tray, the labels are left alone: a hidden label still
    // lays out its text and raises an accessibility event for every new one.
    if (isVisible())
        showFigures();
}

void frmMain::showFigures() {
    const Figures &f = monitor->figures();
    ui->lblAdapterName->setText(f.adapterName);
    ui->lblSentBytes->setText(RateText::figureText(f.sent));
    ui->lblRecvBytes->setText(RateText::figureText(f.recv));
    ui->lblUpBytes->setText(RateText::figureText(f.up));
    ui->lblDownBytes->setText(RateText::figureText(f.down));
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (!unloaded)
        Form_Unload();
    event->accept();
}
