#include "support/Harness.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/frmMiniBandwidth.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

// The main window and the mini window: how they are laid out, the options
// that are no tray option, and where the window goes when minimised and
// brought back.
namespace {

// "hidden" (tray only), "taskbar" (shown, minimised) or "normal".
QString where(const frmMain &w) {
    return !w.isVisible()    ? QStringLiteral("hidden")
           : w.isMinimized() ? QStringLiteral("taskbar")
                             : QStringLiteral("normal");
}

bool centred(const QWidget &w) {
    const QPoint off = w.geometry().center() - w.screen()->availableGeometry().center();
    return qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1;
}

int miniWindowCount() {
    int n = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        n += qobject_cast<frmMiniBandwidth *>(top) != nullptr;
    return n;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // In the middle of the screen; the tab pages' controls stay where they were
    // put, whatever the tab row's height; auto-sized labels show all their text.
    void mainWindowLayout() {
        Rig r;
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QVERIFY(centred(r.w));
        auto *tabs = r.get<QTabWidget>("Tabs");
        for (int tab : {2, 1, 0})
            tabs->setCurrentIndex(tab);
        for (const char *frame : {"Frame1", "Frame3", "frmAdapter"})
            QCOMPARE(r.get(frame)->mapTo(tabs, QPoint()), QPoint(18, 32));
        QCOMPARE(r.label("Label13")->size(), r.label("Label13")->sizeHint());
        // Of the tray's pictures, only the two samples on the options page show.
        tabs->setCurrentIndex(1);
        QVERIFY(r.label("picRedRed")->isVisible() && r.label("picYellowYellow")->isVisible());
        QLabel *holder = r.label("picRedGreen");
        QVERIFY(!holder->isVisible());
        QCOMPARE(holder->pixmap().toImage(), Images::trayIcon({LoadLevel::Red, LoadLevel::Green})
                                                 .pixmap(QSize(16, 16), holder->devicePixelRatioF())
                                                 .toImage());
    }

    // Tab moves through the options, then to the tab row, then to the
    // adapter list.
    void tabOrder() {
        Rig r;
        QWidget *w = r.get("cmdUpdateFrequency");
        QVERIFY(qobject_cast<QTabBar *>(w->nextInFocusChain()));
        QCOMPARE(w->nextInFocusChain()->nextInFocusChain(), r.get("cmdAdapters"));
    }

    void miniWindow() {
        frmMiniBandwidth mini;
        const QImage up = mini.findChild<QLabel *>("Image1")->pixmap().toImage();
        QVERIFY(!up.isNull() && up != mini.findChild<QLabel *>("Image2")->pixmap().toImage());
        mini.show();
        QVERIFY(centred(mini));
    }

    void fonts() {
        if (!Fonts::ensureTahoma())
            QSKIP("No Tahoma on this machine (Debian: fonts-wine)");
        Rig r;
        const QFontInfo info(r.label("lblSentBytes")->font());
        QCOMPARE(info.family(), QStringLiteral("Tahoma"));
        QVERIFY(QFontInfo(r.label("lblZarnDev")->font()).bold());
    }

    // Rejected texts show one stop box and leave setting, interval and text.
    void updateFrequency_data() {
        const auto r = table<bool, QString, QString, int>({"german", "text", "box", "interval"});
        r("accepted", false, "251.5", "", 252);
        r("German decimal", true, "250,5", "", 250);
        r("out of range", false, "0", "Frequency must be between 1 and 60000 ms!", 777);
        r("English decimal in German", true, "250.5", "Frequency is not numeric!", 777);
    }
    void updateFrequency() {
        const QString text = cell<QString>("text");
        QLocale::setDefault(QLocale(cell<bool>("german") ? QLocale::German : QLocale::English));
        Rig r;
        store(QStringLiteral("UpdateFrequency"), QStringLiteral("777"));
        r.w.tmrAdapterUpdate->start(777);
        r.edit("txtFrequency")->setText(text);
        r.get<QPushButton>("cmdUpdateFrequency")->click();
        QString boxes;
        for (const auto &box : r.env.messages.shown)
            boxes += box.text + (box.icon == MessageBoxes::Icon::Stop ? "" : "?");
        QTEST(boxes, "box");
        QTEST(r.w.tmrAdapterUpdate->interval(), "interval");
        QVERIFY(r.w.tmrAdapterUpdate->isActive());
        QCOMPARE(r.w.tmrAdapterUpdate->timerType(), Qt::PreciseTimer);
        // Stored exactly as typed; a rejected text stays for the user to correct.
        QCOMPARE(stored(QStringLiteral("UpdateFrequency")), boxes.isEmpty() ? text : "777");
        QCOMPARE(r.edit("txtFrequency")->text(), text);
    }

    // Each box stores its state, greyed as 2; the user's clicks only ever
    // give ticked or clear.
    void checkBoxStored_data() {
        const auto r = table<QString, QString>({"box", "setting"});
        r("auto adjust", "chkAutoAdjustThreshold", "AutoAdjustThreshold");
        r("minimize to tray", "chkMinimizeToTray", "MinimizeToTray");
        r("show bandwidth", "chkShowBandwidth", "ShowBandwidthInTray");
        r("start minimized", "chkStartupMinimized", "StartupMinimized");
    }
    void checkBoxStored() {
        const QString setting = cell<QString>("setting");
        Rig r;
        QCheckBox *check = r.box(qPrintable(cell<QString>("box")));
        check->setEnabled(true);
        QStringList got;
        for (Qt::CheckState s : {Qt::PartiallyChecked, Qt::Unchecked, Qt::PartiallyChecked}) {
            check->setCheckState(s);
            got << stored(setting);
        }
        const bool greyedCounts = r.w.showBandwidthInTray;
        for (int i = 0; i < 2; ++i) {
            check->click();
            got << stored(setting);
        }
        QCOMPARE(got, QStringList({"2", "0", "2", "1", "0"}));
        if (setting == u"ShowBandwidthInTray")
            QVERIFY(greyedCounts && !r.w.showBandwidthInTray);
    }

    // The threshold boxes can be edited only while "Automatically adjust"
    // is offered and clear (or greyed); the window's own state does not count.
    void thresholdControls_data() {
        const auto r = table<bool, int, bool>({"offered", "state", "manual"});
        r("offered, ticked", true, int(Qt::Checked), false);
        r("offered, greyed", true, int(Qt::PartiallyChecked), true);
        r("not offered, clear", false, int(Qt::Unchecked), false);
    }
    void thresholdControls() {
        Rig r;
        r.box("chkAutoAdjustThreshold")->setEnabled(cell<bool>("offered"));
        r.box("chkAutoAdjustThreshold")->setCheckState(Qt::CheckState(cell<int>("state")));
        r.w.setEnabled(false);
        r.w.updateThresholdControls();
        r.w.setEnabled(true);
        for (const char *name :
             {"txtYellowThreshold", "lblYellowKsec", "txtRedThreshold", "lblRedIconThreshold"})
            QTEST(r.enabled(name), "manual");
    }

    void thresholdTextsAndAutostart() {
        Rig r;
        for (const char *text : {"12.5 k", ""}) { // stored as typed, empty stays empty
            r.edit("txtYellowThreshold")->setText(QLatin1String(text));
            r.edit("txtRedThreshold")->setText(QLatin1String(text) + u'!');
            QCOMPARE(stored(QStringLiteral("YellowThreshold")), QLatin1String(text));
            QCOMPARE(stored(QStringLiteral("RedThreshold")), QLatin1String(text) + u'!');
        }
        r.box("chkStartWithWin")->setChecked(true);
        r.box("chkStartWithWin")->setChecked(false);
        QCOMPARE(r.env.autostart.calls,
                 QStringList({"enable /opt/zarn/bin/zarn-bandwidth", "disable"}));
        QCOMPARE(stored(QStringLiteral("StartWithWin")), kAbsent); // not a setting
    }

    // Steps: "min" (the user minimises), "restore" (from the taskbar),
    // "main" (Show Main), "dbl" (double-click on the tray icon), "hide"
    // (start-up hides the window), "toTray" (tick "Minimize to the system
    // tray"), "gone"/"back" (the desktop's tray goes away / comes back).
    // After each step: where the window is and the marker.
    void minimiseAndBringBack_data() {
        const auto r =
            table<bool, bool, QStringList, QStringList>({"trayIcon", "toTray", "steps", "after"});
        using L = QStringList;
        r("tray icon off: stays on the taskbar", false, true, L{"min"}, L{"taskbar/"});
        r("option off: stays on the taskbar", true, false, L{"min"}, L{"taskbar/"});
        r("back from the tray, then to the tray again", true, true, L{"min", "main", "min"},
          L{"hidden/", "normal/", "hidden/"});
        r("hidden by start-up, brought back, minimised to the tray", true, true,
          L{"hide", "dbl", "min"}, L{"hidden/", "normal/", "hidden/"});
        r("restore from the taskbar, minimise to tray", true, false,
          L{"min", "restore", "toTray", "min"}, L{"taskbar/", "normal/", "normal/", "hidden/"});
        // Show Main on a window already normal causes no state change: the
        // marker stays, the next minimise keeps to the taskbar and clears it.
        r("marker outlives Show Main on a normal window", true, true,
          L{"main", "min", "restore", "min"},
          L{"normal/BringUp", "taskbar/", "normal/", "hidden/"});
        // Hidden with no tray to show the icon, the window could not be reached.
        r("a tray that comes later takes the window", true, true,
          L{"gone", "min", "restore", "back", "min"},
          L{"normal/", "taskbar/", "normal/", "normal/", "hidden/"});
    }
    void minimiseAndBringBack() {
        Rig r;
        r.w.showTrayIcon = cell<bool>("trayIcon");
        r.box("chkMinimizeToTray")->setChecked(cell<bool>("toTray"));
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QStringList got;
        for (const QString &step : cell<QStringList>("steps")) {
            if (step == u"min")
                r.w.setWindowState(r.w.windowState() | Qt::WindowMinimized);
            else if (step == u"restore")
                r.w.setWindowState(r.w.windowState() & ~Qt::WindowMinimized);
            else if (step == u"main")
                r.w.mShowDialog->trigger();
            else if (step == u"dbl")
                r.env.tray.activate(TrayActivation::DoubleClick);
            else if (step == u"hide")
                r.w.hide();
            else if (step == u"toTray")
                r.box("chkMinimizeToTray")->setChecked(true);
            else
                r.env.tray.available = step == u"back";
            got << where(r.w) + u'/' + r.w.Tag;
        }
        QTEST(got, "after");
    }

    // Which mouse actions on the icon bring the hidden window back, on a
    // host that reports double-clicks (XEmbed) and on one that does not.
    void trayActionsByHostKind_data() {
        const auto r = table<bool, int, bool>({"hostReportsDoubleClick", "reason", "bringsBack"});
        for (bool xembed : {true, false})
            for (auto reason : {TrayActivation::Context, TrayActivation::DoubleClick,
                                TrayActivation::Trigger, TrayActivation::MiddleClick})
                r(qPrintable(QStringLiteral("%1 %2").arg(xembed).arg(int(reason))), xembed,
                  int(reason),
                  reason == TrayActivation::DoubleClick ||
                      (!xembed && reason == TrayActivation::Trigger));
    }
    void trayActionsByHostKind() {
        Rig r;
        r.env.tray.doubleClicks = cell<bool>("hostReportsDoubleClick");
        r.w.showTrayIcon = true;
        r.w.show();
        r.w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(where(r.w), QStringLiteral("hidden"));
        r.env.tray.activate(TrayActivation(cell<int>("reason")));
        QCOMPARE(where(r.w), cell<bool>("bringsBack") ? "normal" : "hidden");
        QCOMPARE(miniWindowCount(), 0);
    }

    // One mini window, kept while hidden, made afresh once closed; the
    // menu goes to the host with "Show Main" as its default; Exit unloads
    // even from the tray.
    void menu() {
        Rig r;
        QCOMPARE(r.env.tray.menu, r.w.mPopup);
        QCOMPARE(r.w.mPopup->defaultAction(), r.w.mShowDialog);
        r.w.mShowMini->trigger();
        frmMiniBandwidth *first = r.w.miniWindow(false);
        first->hide();
        r.w.mShowMini->trigger();
        QVERIFY(r.w.miniWindow(false) == first && first->isVisible());
        r.w.mShowDialog->trigger(); // Show Main leaves the mini window alone
        QVERIFY(first->isVisible());
        first->close();
        QTRY_COMPARE(r.w.miniWindow(false), nullptr);
        r.w.mShowMini->trigger();
        QCOMPARE(miniWindowCount(), 1);
        r.w.hide();
        r.w.mExit->trigger();
        QVERIFY(r.w.unloaded && !r.w.isVisible());
    }

    // The maker link is drawn in pure blue and a click opens its address.
    void makerLink() {
        Rig r;
        QList<QUrl> opened;
        r.w.openUrl = [&opened](const QUrl &url) {
            opened << url;
            return true;
        };
        QLabel *link = r.label("lblZarnDev");
        const QImage drawn = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int blue = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                blue += drawn.pixel(x, y) == qRgb(0, 0, 255);
        QVERIFY2(blue > 10, "the link is not drawn in blue");
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zarndev.example/"))});
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
