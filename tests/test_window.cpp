#include "support/Harness.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
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
namespace {

// "hidden" (tray only), "taskbar" (shown, minimised) or "normal".
QString where(const frmMain &w) {
    return QLatin1String(!w.isVisible() ? "hidden" : w.isMinimized() ? "taskbar" : "normal");
}

bool centred(const QWidget &w) {
    const QPoint off = w.geometry().center() - w.screen()->availableGeometry().center();
    return qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Both windows in the middle of the screen; the tab pages' controls stay where they were
    // put, whatever the tab row's height; auto-sized labels show all their text; Tab goes from
    // the options to the tab row, then to the adapter list.
    void layout() {
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
        QWidget *update = r.get("cmdUpdateFrequency");
        QVERIFY(qobject_cast<QTabBar *>(update->nextInFocusChain()));
        QCOMPARE(update->nextInFocusChain()->nextInFocusChain(), r.get("cmdAdapters"));
        // Of the tray's pictures, only the two samples on the options page show.
        tabs->setCurrentIndex(1);
        QVERIFY(r.label("picRedRed")->isVisible() && r.label("picYellowYellow")->isVisible());
        QVERIFY(!r.label("picRedGreen")->isVisible());
        frmMiniBandwidth mini;
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
        // Stored exactly as typed; a rejected text stays for the user to correct.
        QCOMPARE(stored(QStringLiteral("UpdateFrequency")), boxes.isEmpty() ? text : "777");
        QCOMPARE(r.edit("txtFrequency")->text(), text);
    }

    // Thresholds are stored as typed. Each box stores its state, greyed as 2; the user's clicks
    // give only ticked or clear. The thresholds can be edited ("+") only while "Automatically
    // adjust" is offered and clear (or greyed), whatever the window's own state; the last two
    // steps: window off, box not offered.
    void optionsStored_data() {
        const auto r = table<QString, QString, QString>({"control", "setting", "stored"});
        r("auto adjust", "chkAutoAdjustThreshold", "AutoAdjustThreshold", "2+ 0+ 2+ 1 0+ 0+ 0");
        r("minimize to tray", "chkMinimizeToTray", "MinimizeToTray", "2 0 2 1 0 0 0");
        r("show bandwidth", "chkShowBandwidth", "ShowBandwidthInTray", "2 0 2 1 0 0 0");
        r("start minimized", "chkStartupMinimized", "StartupMinimized", "2 0 2 1 0 0 0");
        r("yellow threshold, as typed", "txtYellowThreshold", "YellowThreshold", "12.5 k|");
        r("red threshold, as typed", "txtRedThreshold", "RedThreshold", "12.5 k|");
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
        r("restore from the taskbar, minimise to tray", true, false, "min restore toTray min",
          "taskbar normal normal hidden");
        // Show Main on a window already normal causes no state change: the
        // marker stays, the next minimise keeps to the taskbar and clears it.
        r("marker outlives Show Main on a normal window", true, true, "main min restore min",
          "normal/BringUp taskbar normal hidden");
        // Hidden with no tray to show the icon, the window could not be reached.
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
            {"toTray", [&] { r.box("chkMinimizeToTray")->setChecked(true); }},
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
            got << where(r.w) + (r.w.Tag.isEmpty() ? QString() : u'/' + r.w.Tag);
        }
        QTEST(got.join(u' '), "after");
    }

    // The maker link is drawn in pure blue and a click opens its address. One mini window,
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
        const QImage drawn = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto *pixels = reinterpret_cast<const QRgb *>(drawn.constBits());
        QVERIFY(std::count(pixels, pixels + drawn.width() * drawn.height(), qRgb(0, 0, 255)) > 10);
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
        r.w.mShowDialog->trigger(); // Show Main leaves the mini window alone
        QVERIFY(first->isVisible());
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
