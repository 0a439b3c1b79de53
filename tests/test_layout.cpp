#include "support/Harness.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/frmMiniBandwidth.h"

#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

namespace {

enum Style {
    Auto = 1,    // an auto-sized label: its size follows its text
    Framed = 2,  // a label with a plain single-line box
    Right = 4,   // right-aligned text
    Centre = 8,  // centred text
    Checked = 16 // a check box ticked from the start
};

// One control as the window is designed: its container, and its place in
// that container's coordinates, in pixels.
struct Control {
    const char *name;
    const char *kind;
    const char *container;
    const char *caption;
    int x, y, w, h;
    int style = 0;
};

// clang-format off
const Control kMainControls[] = {
    {"Label13", "QLabel", "frmMain", "Zarn's Bandwidth Monitor - ", 22, 2, 150, 13, Auto},
    {"lblZarnDev", "QLabel", "frmMain", nullptr, 174, 2, 138, 13, Auto},
    {"Tabs", "QTabWidget", "frmMain", nullptr, 0, 18, 321, 257},
    {"Frame1", "QGroupBox", "Tabs", "Adapter", 18, 32, 289, 45},
    {"Frame2", "QGroupBox", "Tabs", "Stats", 18, 86, 289, 139},
    {"Frame3", "QGroupBox", "Tabs", "Options", 18, 32, 289, 215},
    {"frmAdapter", "QGroupBox", "Tabs", "Adapter", 18, 32, 289, 45},
    {"frmAdapterInfo", "QGroupBox", "Tabs", "Adapter Info", 18, 86, 289, 107},
    {"frameProgramVersion", "QGroupBox", "Tabs", "Program Version", 18, 200, 289, 45},
    {"Label2", "QLabel", "Frame1", "Name:", 10, 20, 31, 13, Auto},
    {"lblAdapterName", "QLabel", "Frame1", "", 54, 20, 229, 13},
    {"Label3", "QLabel", "Frame2", "Sent:", 12, 20, 26, 13, Auto},
    {"lblSentBytes", "QLabel", "Frame2", "", 48, 20, 155, 17, Framed | Right},
    {"Label4", "QLabel", "Frame2", "bytes", 206, 22, 27, 13, Auto},
    {"Label5", "QLabel", "Frame2", "Recv:", 12, 42, 28, 13, Auto},
    {"lblRecvBytes", "QLabel", "Frame2", "", 48, 42, 155, 17, Framed | Right},
    {"Label7", "QLabel", "Frame2", "bytes", 206, 44, 27, 13, Auto},
    {"Label8", "QLabel", "Frame2", "Current:", 10, 64, 41, 13, Auto},
    {"Label14", "QLabel", "Frame2", "Up:", 12, 84, 17, 13, Auto},
    {"lblUpBytes", "QLabel", "Frame2", "", 48, 84, 93, 17, Framed | Right},
    {"Label12", "QLabel", "Frame2", "byte/sec", 146, 86, 42, 13, Auto},
    {"Label11", "QLabel", "Frame2", "Down:", 12, 106, 31, 13, Auto},
    {"lblDownBytes", "QLabel", "Frame2", "", 48, 106, 93, 17, Framed | Right},
    {"Label9", "QLabel", "Frame2", "byte/sec", 146, 108, 42, 13, Auto},
    {"chkShowTrayIcon", "QCheckBox", "Frame3", "Show Tray Icon", 14, 22, 251, 15, Checked},
    {"chkAnimateTrayIcon", "QCheckBox", "Frame3", "Animate Tray Icon", 18, 40, 251, 15, Checked},
    {"chkAutoAdjustThreshold", "QCheckBox", "Frame3", "Automatically adjust threshold", 22, 56, 251, 15, Checked},
    {"txtYellowThreshold", "QLineEdit", "Frame3", "", 152, 74, 55, 19},
    {"txtRedThreshold", "QLineEdit", "Frame3", "", 152, 94, 55, 19},
    {"chkShowBandwidth", "QCheckBox", "Frame3", "Show bandwidth in tray tooltip", 22, 118, 259, 13, Checked},
    {"chkMinimizeToTray", "QCheckBox", "Frame3", "Minimize to the system tray", 14, 134, 251, 15, Checked},
    {"chkStartupMinimized", "QCheckBox", "Frame3", "Startup minimized normally", 14, 152, 251, 15},
    {"chkStartWithWin", "QCheckBox", "Frame3", "Startup with windows (and automatically minimized)", 14, 168, 271, 15},
    {"txtFrequency", "QLineEdit", "Frame3", "", 112, 188, 41, 19},
    {"cmdUpdateFrequency", "QPushButton", "Frame3", "Update", 194, 190, 55, 17},
    {"picYellowYellow", "QLabel", "Frame3", nullptr, 20, 74, 19, 19},
    {"lblYellowIconThreshold", "QLabel", "Frame3", "Yellow icon threshhold", 42, 76, 106, 13, Auto},
    {"lblYellowKsec", "QLabel", "Frame3", "kbyte/sec", 210, 78, 47, 13, Auto},
    {"picRedRed", "QLabel", "Frame3", nullptr, 20, 94, 19, 19},
    {"lblRedIconThreshold", "QLabel", "Frame3", "Red icon threshhold", 42, 96, 95, 13, Auto},
    {"lblRedKsec", "QLabel", "Frame3", "kbyte/sec", 210, 98, 47, 13, Auto},
    {"Label6", "QLabel", "Frame3", "Update Frequency", 16, 190, 89, 13, Auto},
    {"Label10", "QLabel", "Frame3", "msecs", 160, 190, 29, 13, Auto},
    {"Label1", "QLabel", "frmAdapter", "Name:", 6, 20, 31, 13, Auto},
    {"cmdAdapters", "QComboBox", "frmAdapter", nullptr, 42, 16, 239, 21},
    {"Label15", "QLabel", "frmAdapterInfo", "Adapter Name", 12, 20, 69, 13, Auto},
    {"lblInfoAdapterName", "QLabel", "frmAdapterInfo", "", 88, 20, 191, 17, Framed},
    {"Label16", "QLabel", "frmAdapterInfo", "Adapter Speed", 12, 40, 72, 13, Auto},
    {"lblInfoAdapterSpeed", "QLabel", "frmAdapterInfo", "", 88, 40, 191, 17, Framed | Centre},
    {"Label18", "QLabel", "frmAdapterInfo", "Adapter Type", 12, 60, 66, 13, Auto},
    {"lblInfoAdapterType", "QLabel", "frmAdapterInfo", "", 88, 60, 191, 17, Framed | Centre},
    {"Label17", "QLabel", "frmAdapterInfo", "IP Address", 12, 80, 52, 13, Auto},
    {"lblInfoIPAddress", "QLabel", "frmAdapterInfo", "", 88, 80, 191, 17, Framed | Centre},
    {"lblVersion", "QLabel", "frameProgramVersion", "Version", 12, 20, 265, 15},
    // The store of tray pictures along the bottom edge, never shown.
    {"picRedYellow", "QLabel", "frmMain", nullptr, 264, 276, 19, 19},
    {"picRedGreen", "QLabel", "frmMain", nullptr, 244, 276, 19, 19},
    {"picRedNone", "QLabel", "frmMain", nullptr, 224, 276, 19, 19},
    {"picYellowRed", "QLabel", "frmMain", nullptr, 204, 276, 19, 19},
    {"picYellowGreen", "QLabel", "frmMain", nullptr, 184, 276, 19, 19},
    {"picYellowNone", "QLabel", "frmMain", nullptr, 164, 276, 19, 19},
    {"picGreenRed", "QLabel", "frmMain", nullptr, 144, 276, 19, 19},
    {"picGreenYellow", "QLabel", "frmMain", nullptr, 124, 276, 19, 19},
    {"picGreenGreen", "QLabel", "frmMain", nullptr, 104, 276, 19, 19},
    {"picGreenNone", "QLabel", "frmMain", nullptr, 84, 276, 19, 19},
    {"picNoneRed", "QLabel", "frmMain", nullptr, 64, 276, 19, 19},
    {"picNoneYellow", "QLabel", "frmMain", nullptr, 44, 276, 19, 19},
    {"picNoneGreen", "QLabel", "frmMain", nullptr, 24, 276, 19, 19},
    {"picNoneNone", "QLabel", "frmMain", nullptr, 4, 276, 19, 19},
};

const Control kMiniControls[] = {
    {"Image1", "QLabel", "frmMiniBandwidth", nullptr, 2, 0, 16, 16},
    {"lblMiniUp", "QLabel", "frmMiniBandwidth", "", 20, 2, 59, 15, Framed | Right},
    {"Label1", "QLabel", "frmMiniBandwidth", "k/s", 82, 4, 14, 13, Auto},
    {"Image2", "QLabel", "frmMiniBandwidth", nullptr, 2, 20, 16, 16},
    {"lblMiniDown", "QLabel", "frmMiniBandwidth", "", 20, 20, 59, 15, Framed | Right},
    {"Label2", "QLabel", "frmMiniBandwidth", "k/s", 82, 20, 14, 13, Auto},
};
// clang-format on

// The window kind and the boxes in its title bar.
const Qt::WindowFlags kDecorations = Qt::WindowType_Mask | Qt::WindowMinimizeButtonHint |
                                     Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint |
                                     Qt::WindowStaysOnTopHint;

const char *const kTabStops[] = {
    "chkShowTrayIcon", "chkAnimateTrayIcon", "chkAutoAdjustThreshold", "txtYellowThreshold",
    "txtRedThreshold", "chkShowBandwidth",   "chkMinimizeToTray",      "chkStartupMinimized",
    "chkStartWithWin", "txtFrequency",       "cmdUpdateFrequency",     "Tabs",
    "cmdAdapters",
};

QString captionOf(const QWidget *w) {
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *edit = qobject_cast<const QLineEdit *>(w))
        return edit->text();
    if (auto *box = qobject_cast<const QGroupBox *>(w))
        return box->title();
    return {};
}

// The control's place in its container's coordinates. Controls on a tab page
// are placed in the tab control's own coordinates, whatever the tab row's
// height.
QRect placeIn(const QWidget *w, const QWidget *container) {
    return QRect(w->mapTo(container, QPoint(0, 0)), w->size());
}

// One row a control; the row names its entry in the table.
void addControlRows(const Control *first, const Control *last) {
    columns<int>({"entry"});
    for (const Control *c = first; c != last; ++c)
        row(c->name, int(c - first));
}

void checkControl(QWidget *window, const Control *table) {
    QFETCH(int, entry);
    const Control &c = table[entry];
    const QString name = QLatin1String(c.name), container = QLatin1String(c.container);
    const QRect place(c.x, c.y, c.w, c.h);
    const int style = c.style;
    auto *w = window->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(QLatin1String(w->metaObject()->className()), QLatin1String(c.kind));
    auto *box =
        container == window->objectName() ? window : window->findChild<QWidget *>(container);
    QVERIFY(box);
    QVERIFY2(box->isAncestorOf(w), "in the wrong container");
    if (c.caption)
        QCOMPARE(captionOf(w), QString::fromUtf8(c.caption));
    const QRect actual = placeIn(w, box);
    QCOMPARE(actual.topLeft(), place.topLeft());
    if (style & Auto) {
        // The text decides the size; the label must show all of it.
        QCOMPARE(actual.size(), w->sizeHint());
    } else {
        QCOMPARE(actual.size(), place.size());
    }
    if (auto *label = qobject_cast<QLabel *>(w)) {
        QCOMPARE(label->frameShape(), style & Framed ? QFrame::Box : QFrame::NoFrame);
        QCOMPARE(label->frameShadow(), QFrame::Plain);
        const int expected = style & Right    ? Qt::AlignRight
                             : style & Centre ? Qt::AlignHCenter
                                              : Qt::AlignLeft;
        if (label->pixmap().isNull())
            QCOMPARE(int(label->alignment() & Qt::AlignHorizontal_Mask), expected);
    }
    if (auto *box = qobject_cast<QCheckBox *>(w)) {
        QCOMPARE(box->isChecked(), bool(style & Checked));
        QVERIFY(!box->isTristate());
    }
    QVERIFY(w->isEnabled());
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Rig> rig;
    frmMain *window = nullptr;

    QTabWidget *tabControl() const { return window->findChild<QTabWidget *>("Tabs"); }

private slots:
    void init() {
        rig = std::make_unique<Rig>();
        window = &rig->w;
    }
    void cleanup() { rig.reset(); }

    // Showing the window lays the tab control out again; the pages' contents
    // must stay where they were put.
    void mainControls_data() { addControlRows(std::begin(kMainControls), std::end(kMainControls)); }
    void mainControls() {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        for (int tab : {2, 1, 0})
            tabControl()->setCurrentIndex(tab);
        checkControl(window, kMainControls);
    }

    void miniControls_data() { addControlRows(std::begin(kMiniControls), std::end(kMiniControls)); }
    void miniControls() {
        frmMiniBandwidth mini;
        checkControl(&mini, kMiniControls);
    }

    // The store pictures are never seen; the two samples are, with their
    // pictures.
    void pictures_data() {
        columns<int, int>({"up", "down"});
        for (int up = 0; up < 4; ++up)
            for (int down = 0; down < 4; ++down) {
                const TrayPicture picture{LoadLevel(up), LoadLevel(down)};
                row(qPrintable(picture.name()), up, down);
            }
    }
    void pictures() {
        QFETCH(int, up);
        QFETCH(int, down);
        const TrayPicture picture{LoadLevel(up), LoadLevel(down)};
        auto *holder = window->findChild<QLabel *>(picture.name());
        QVERIFY(holder);
        const bool sample = picture == TrayPicture{LoadLevel::Red, LoadLevel::Red} ||
                            picture == TrayPicture{LoadLevel::Yellow, LoadLevel::Yellow};
        window->show();
        tabControl()->setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(holder->isVisible(), sample);
        const QPixmap drawn =
            Images::trayIcon(picture).pixmap(QSize(16, 16), holder->devicePixelRatioF());
        QVERIFY(!holder->pixmap().isNull());
        QCOMPARE(holder->pixmap().toImage(), drawn.toImage());
    }

    void tabOrder() {
        QList<QWidget *> expected;
        for (const char *name : kTabStops) {
            auto *w = window->findChild<QWidget *>(QString::fromLatin1(name));
            QVERIFY2(w, name);
            QVERIFY2(w->focusPolicy() & Qt::TabFocus, name);
            expected << w;
        }
        // Walk the focus chain from the first stop, keeping the widgets that
        // take focus by Tab (a tab control's bar stands for the control).
        QList<QWidget *> chain;
        QWidget *w = expected.first();
        do {
            QWidget *stop = w;
            if (auto *bar = qobject_cast<QTabBar *>(w))
                stop = bar->parentWidget();
            // Tab skips widgets that hand their focus on, and hidden ones.
            const bool takesTab =
                (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && !w->isHidden();
            if (takesTab && !chain.contains(stop))
                chain << stop;
            w = w->nextInFocusChain();
        } while (w != expected.first());
        QCOMPARE(chain, expected);
    }

    // Captions with their leading blank; Alt and the underlined letter bring
    // the tab forward, from any tab.
    void tabs_data() {
        columns<int, QString, int>({"index", "caption", "key"});
        row("monitor", 0, " &Monitor", int(Qt::Key_M));
        row("options", 1, " &Options", int(Qt::Key_O));
        row("adapter", 2, " &Adapter", int(Qt::Key_A));
    }
    void tabs() {
        QFETCH(int, index);
        QFETCH(int, key);
        QTEST(tabControl()->tabText(index), "caption");
        QVERIFY(!tabControl()->tabIcon(index).isNull());
        QCOMPARE(tabControl()->iconSize(), QSize(16, 16));
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        for (int from = 0; from < 3; ++from) {
            tabControl()->setCurrentIndex(from);
            QTest::keyClick(window, Qt::Key(key), Qt::AltModifier);
            QCOMPARE(tabControl()->currentIndex(), index);
        }
    }

    void mainWindow() {
        QCOMPARE(window->windowTitle(), QStringLiteral("Bandwidth Monitor"));
        QCOMPARE(window->windowFlags() & (kDecorations | Qt::CustomizeWindowHint),
                 Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                     Qt::CustomizeWindowHint);
        QCOMPARE(window->minimumSize(), QSize(324, 277));
        QCOMPARE(window->maximumSize(), QSize(324, 277));
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(tabControl()->currentIndex(), 0);
        QVERIFY(!window->findChild<QComboBox *>("cmdAdapters")->isEditable());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QCOMPARE(window->size(), QSize(324, 277));
        const QRect screen = window->screen()->availableGeometry();
        QVERIFY(qAbs(window->geometry().center().x() - screen.center().x()) <= 1);
        QVERIFY(qAbs(window->geometry().center().y() - screen.center().y()) <= 1);
    }

    void miniWindow() {
        frmMiniBandwidth mini;
        QCOMPARE(mini.windowTitle(), QStringLiteral("MiniBandwidth"));
        QCOMPARE(mini.windowFlags() & kDecorations,
                 Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowCloseButtonHint);
        QCOMPARE(mini.minimumSize(), QSize(98, 37));
        QCOMPARE(mini.maximumSize(), QSize(98, 37));
        const QImage up = mini.findChild<QLabel *>("Image1")->pixmap().toImage();
        const QImage down = mini.findChild<QLabel *>("Image2")->pixmap().toImage();
        QVERIFY(!up.isNull() && !down.isNull() && up != down);
        const QRect screen = mini.screen()->availableGeometry();
        QVERIFY(qAbs(mini.geometry().center().x() - screen.center().x()) <= 1);
    }

    void fonts_data() {
        columns<bool, QString, bool>({"mini", "name", "bold"});
        row("window", false, "frmMain", false);
        row("caption", false, "Label13", true);
        row("link", false, "lblZarnDev", true);
        row("value", false, "lblSentBytes", false);
        row("mini unit", true, "Label2", false);
    }
    void fonts() {
        QFETCH(bool, mini);
        QFETCH(QString, name);
        if (!Fonts::ensureTahoma())
            QSKIP("No Tahoma on this machine (Debian: fonts-wine)");
        frmMiniBandwidth miniWindow;
        QWidget *top = mini ? static_cast<QWidget *>(&miniWindow) : window;
        QWidget *w = top->objectName() == name ? top : top->findChild<QWidget *>(name);
        QVERIFY(w);
        const QFontInfo info(w->font());
        QCOMPARE(info.family(), QStringLiteral("Tahoma"));
        QCOMPARE(w->font().pointSizeF(), 8.25);
        QTEST(info.bold(), "bold");
    }
};

QTEST_MAIN(LayoutTest)
#include "test_layout.moc"
