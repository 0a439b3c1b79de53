#include "support/Harness.h"
#include "ui/Fonts.h"
#include "ui/frmMiniBandwidth.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

// The main and the mini window: layout, the options but the tray's, the menu, minimising.
class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // The window in the middle of the screen; the tab pages' controls stay where they were
    // put, whatever the tab row's height; auto-sized labels show all their text; Tab goes from
    // the options to the tab row, then to the adapter list. Tahoma where installed.
    void layout() {
        const bool tahoma = Fonts::ensureTahoma(); // Debian: fonts-wine
        Rig r;
        if (tahoma)
            QCOMPARE(QFontInfo(r.label("lblSentBytes")->font()).family(), QStringLiteral("Tahoma"));
        QVERIFY(QFontInfo(r.label("lblZarnDev")->font()).bold());
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        const QPoint off = r.w.geometry().center() - r.w.screen()->availableGeometry().center();
        QVERIFY(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1);
        auto *tabs = r.get<QTabWidget>("Tabs");
        for (int tab : {2, 1, 0})
            tabs->setCurrentIndex(tab);
        for (const char *frame : {"Frame1", "Frame3", "frmAdapter"})
            QCOMPARE(r.get(frame)->mapTo(tabs, QPoint()), QPoint(18, 32));
        QCOMPARE(r.label("Label13")->size(), r.label("Label13")->sizeHint());
        QWidget *next = r.get("cmdUpdateFrequency")->nextInFocusChain();
        QVERIFY(qobject_cast<QTabBar *>(next) && next->nextInFocusChain() == r.get("cmdAdapters"));
        // Of the tray's pictures, only the two samples on the options page show.
        tabs->setCurrentIndex(1);
        QVERIFY(r.label("picRedRed")->isVisible() && r.label("picYellowYellow")->isVisible());
        QVERIFY(!r.label("picRedGreen")->isVisible());
    }

    // Stored as typed; a rejected text shows one stop box, leaves setting and interval, and
    // stays for the user to correct.
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
        QCOMPARE(stored(QStringLiteral("UpdateFrequency")), boxes.isEmpty() ? text : "777");
        QCOMPARE(r.edit("txtFrequency")->text(), text);
    }

    // Thresholds are stored as typed; each box its state, greyed as 2, clicks give 1 or 0. The
    // thresholds are editable ("+") only while "Automatically adjust" is offered and clear (or
    // greyed), whatever the window's state; the last two steps: window off, box not offered.
    void optionsStored_data() {
        const auto r = table<QString, QString, QString>({"control", "setting", "stored"});
        r("auto adjust", "chkAutoAdjustThreshold", "AutoAdjustThreshold", "2+ 0+ 2+ 1 0+ 0+ 0");
        r("minimize to tray", "chkMinimizeToTray", "MinimizeToTray", "2 0 2 1 0 0 0");
        r("show bandwidth", "chkShowBandwidth", "ShowBandwidthInTray", "2 0 2 1 0 0 0");
        r("start minimized", "chkStartupMinimized", "StartupMinimized", "2 0 2 1 0 0 0");
        r("yellow threshold, as typed", "txtYellowThreshold", "YellowThreshold", "12.5 k|");
    }
    void optionsStored() {
        const QString setting = cell<QString>("setting");
        Rig r;
        QStringList got;
        if (auto *edit = r.w.findChild<QLineEdit *>(cell<QString>("control"))) {
            for (const char *text : {"12.5 k", ""}) { // empty stays empty
                edit->setText(QLatin1String(text));
                got << stored(setting);
            }
            QTEST(got.join(u'|'), "stored");
            return;
        }
        r.w.updateThresholdControls(); // the thresholds as start-up leaves them
        QCheckBox *check = r.box(qPrintable(cell<QString>("control")));
        check->setEnabled(true);
        const auto note = [&] {
            got << stored(setting) + (r.enabled("txtRedThreshold") ? "+" : "");
        };
        for (Qt::CheckState s : {Qt::PartiallyChecked, Qt::Unchecked, Qt::PartiallyChecked}) {
            check->setCheckState(s);
            note();
        }
        const bool greyedCounts = r.w.showBandwidthInTray;
        for (int i = 0; i < 2; ++i) {
            check->click();
            note();
        }
        r.w.setEnabled(false);
        r.w.updateThresholdControls();
        r.w.setEnabled(true);
        note();
        check->setEnabled(false);
        r.w.updateThresholdControls();
        note();
        QTEST(got.join(u' '), "stored");
        if (setting == u"ShowBandwidthInTray")
            QVERIFY(greyedCounts && !r.w.showBandwidthInTray);
    }

    // Steps as named in minimiseAndBringBack(): "click" to "mid" on the tray icon, "sni" a host
    // that reports no double-click. After each: where the window is, and the marker if set.
    void minimiseAndBringBack_data() {
        const auto r =
            table<bool, bool, QString, QString>({"trayIcon", "toTray", "steps", "after"});
        r("tray icon off: stays on the taskbar", false, true, "min", "taskbar");
        r("option off: stays on the taskbar", true, false, "min", "taskbar");
        r("back from the tray, then to the tray again", true, true, "min main min",
          "hidden normal hidden");
        r("hidden by start-up, back, to the tray", true, true, "hide dbl min",
          "hidden normal hidden");
        r("marker outlives Show Main on a normal window", true, true, "main min restore min",
          "normal/BringUp taskbar normal hidden");
        r("a tray that comes later takes the window", true, true, "gone min restore back min",
          "normal taskbar normal normal hidden");
        r("a host with double-clicks: only they bring it back", true, true, "min click ctx mid dbl",
          "hidden hidden hidden hidden normal");
        r("a host without: a click brings it back", true, true, "sni min ctx mid click",
          "normal hidden hidden hidden normal");
    }
    void minimiseAndBringBack() {
        Rig r;
        const QStringList clicks = {"click", "dbl", "ctx", "mid"}; // in TrayActivation's order
        const QHash<QString, std::function<void()>> act = {
            {"min", [&] { r.w.setWindowState(r.w.windowState() | Qt::WindowMinimized); }},
            {"restore", [&] { r.w.setWindowState(r.w.windowState() & ~Qt::WindowMinimized); }},
            {"main", [&] { r.w.mShowDialog->trigger(); }},
            {"sni", [&] { r.env.tray.doubleClicks = false; }},
            {"hide", [&] { r.w.hide(); }},
            {"gone", [&] { r.env.tray.available = false; }},
            {"back", [&] { r.env.tray.available = true; }},
        };
        r.w.showTrayIcon = cell<bool>("trayIcon");
        r.box("chkMinimizeToTray")->setChecked(cell<bool>("toTray"));
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QStringList got;
        for (const QString &step : cell<QString>("steps").split(u' ')) {
            if (act.contains(step))
                act[step]();
            else
                r.env.tray.activate(TrayActivation(clicks.indexOf(step)));
            got << QLatin1String(!r.w.isVisible()    ? "hidden"
                                 : r.w.isMinimized() ? "taskbar"
                                                     : "normal") +
                       (r.w.Tag.isEmpty() ? QString() : u'/' + r.w.Tag);
        }
        QTEST(got.join(u' '), "after");
    }

    // A click on the maker link opens its address. One mini window,
    // kept while hidden, made afresh once closed; the menu goes to the host with "Show Main" as
    // its default; Exit unloads even from the tray.
    void linkAndMenu() {
        Rig r;
        QList<QUrl> opened;
        r.w.openUrl = [&opened](const QUrl &url) {
            opened << url;
            return true;
        };
        QLabel *link = r.label("lblZarnDev");
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zarndev.example/"))});

        QCOMPARE(r.env.tray.menu, r.get<QMenu>("mPopup"));
        QCOMPARE(r.w.mPopup->defaultAction(), r.w.mShowDialog);
        r.w.mShowMini->trigger();
        frmMiniBandwidth *first = r.w.miniWindow(false);
        first->hide();
        r.w.mShowMini->trigger();
        QVERIFY(r.w.miniWindow(false) == first && first->isVisible());
        first->close();
        QTRY_COMPARE(r.w.miniWindow(false), nullptr);
        r.w.mShowMini->trigger();
        QVERIFY(r.w.miniWindow(false)->isVisible());
        r.w.hide();
        r.w.mExit->trigger();
        QVERIFY(r.w.unloaded && !r.w.isVisible());
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
