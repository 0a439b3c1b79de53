#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QUrl>

namespace {

// "hidden" (tray only), "taskbar" (shown, minimised) or "normal".
QString where(const frmMain &w) {
    if (!w.isVisible())
        return QStringLiteral("hidden");
    return w.isMinimized() ? QStringLiteral("taskbar") : QStringLiteral("normal");
}

void userMinimises(frmMain &w) {
    w.setWindowState(w.windowState() | Qt::WindowMinimized);
}

int miniWindowCount() {
    int n = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        n += qobject_cast<frmMiniBandwidth *>(top) != nullptr;
    return n;
}

} // namespace

class WindowStatesTest : public QObject {
    Q_OBJECT
private slots:
    // Steps: "min" (the user minimises), "restore" (from the taskbar),
    // "main" (Show Main), "dbl" (double-click on the tray icon), "hide"
    // (start-up hides the window), "toTray" (tick "Minimize to the system
    // tray"), "gone"/"back" (the desktop's tray goes away / comes back).
    // After each step: where the window is and the marker, as
    // "taskbar/BringUp".
    void minimiseAndBringBack_data() {
        columns<bool, bool, QStringList, QStringList>({"trayIcon", "toTray", "steps", "after"});
        using L = QStringList;
        row("minimise goes to the tray", true, true, L{"min"}, L{"hidden/"});
        row("tray icon off: stays on the taskbar", false, true, L{"min"}, L{"taskbar/"});
        row("option off: stays on the taskbar", true, false, L{"min"}, L{"taskbar/"});
        row("back from the tray, then to the tray again", true, true, L{"min", "main", "min"},
            L{"hidden/", "normal/", "hidden/"});
        row("hidden by start-up, brought back, minimised to the tray", true, true,
            L{"hide", "dbl", "min"}, L{"hidden/", "normal/", "hidden/"});
        row("back from the taskbar clears the marker", false, true, L{"min", "main"},
            L{"taskbar/", "normal/"});
        row("restore from the taskbar, minimise to tray", true, false,
            L{"min", "restore", "toTray", "min"}, L{"taskbar/", "normal/", "normal/", "hidden/"});
        // Show Main on a window already normal causes no state change: the
        // marker stays, the next minimise keeps to the taskbar and clears it,
        // the one after goes to the tray.
        row("marker outlives Show Main on a normal window", true, true,
            L{"main", "main", "min", "restore", "min"},
            L{"normal/BringUp", "normal/BringUp", "taskbar/", "normal/", "hidden/"});
        // Hidden with no tray to show the icon, the window could not be
        // reached any more.
        row("no tray on the desktop: stays on the taskbar", true, true, L{"gone", "min"},
            L{"normal/", "taskbar/"});
        row("a tray that comes later takes the window", true, true,
            L{"gone", "min", "restore", "back", "min"},
            L{"normal/", "taskbar/", "normal/", "normal/", "hidden/"});
    }
    void minimiseAndBringBack() {
        QFETCH(bool, trayIcon);
        QFETCH(bool, toTray);
        QFETCH(QStringList, steps);
        Rig r;
        r.w.showTrayIcon = trayIcon;
        r.box("chkMinimizeToTray")->setChecked(toTray);
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QStringList got;
        for (const QString &step : steps) {
            if (step == QLatin1String("min"))
                userMinimises(r.w);
            else if (step == QLatin1String("restore"))
                r.w.setWindowState(r.w.windowState() & ~Qt::WindowMinimized);
            else if (step == QLatin1String("main"))
                r.w.mShowDialog->trigger();
            else if (step == QLatin1String("dbl"))
                r.env.tray.activate(TrayActivation::DoubleClick);
            else if (step == QLatin1String("hide"))
                r.w.hide();
            else if (step == QLatin1String("toTray"))
                r.box("chkMinimizeToTray")->setChecked(true);
            else if (step == QLatin1String("gone") || step == QLatin1String("back"))
                r.env.tray.available = step == QLatin1String("back");
            got << where(r.w) + QLatin1Char('/') + r.w.Tag;
        }
        QTEST(got, "after");
    }

    // Which mouse actions on the icon bring the hidden window back, on a
    // host that reports double-clicks (XEmbed) and on one that does not
    // (StatusNotifierItem).
    void trayActionsByHostKind_data() {
        columns<bool, int, bool>({"hostReportsDoubleClick", "reason", "bringsBack"});
        const char *names[] = {"single click", "double-click", "context", "middle", "unknown"};
        for (bool xembed : {true, false})
            for (auto reason :
                 {TrayActivation::Unknown, TrayActivation::Context, TrayActivation::DoubleClick,
                  TrayActivation::Trigger, TrayActivation::MiddleClick})
                QTest::addRow("%s %s", xembed ? "XEmbed" : "SNI", names[int(reason)])
                    << xembed << int(reason)
                    << (reason == TrayActivation::DoubleClick ||
                        (!xembed && reason == TrayActivation::Trigger));
    }
    void trayActionsByHostKind() {
        QFETCH(bool, hostReportsDoubleClick);
        QFETCH(int, reason);
        QFETCH(bool, bringsBack);
        Rig r;
        r.env.tray.doubleClicks = hostReportsDoubleClick;
        r.w.showTrayIcon = true;
        r.w.show();
        userMinimises(r.w);
        QCOMPARE(where(r.w), QStringLiteral("hidden"));
        r.env.tray.activate(TrayActivation(reason));
        QCOMPARE(where(r.w), bringsBack ? QStringLiteral("normal") : QStringLiteral("hidden"));
        QCOMPARE(miniWindowCount(), 0);
        QVERIFY(!r.w.unloaded);
    }

    void miniWindowIsOneAndOnTop() {
        Rig r;
        QCOMPARE(r.w.miniWindow(false), nullptr);
        r.w.mShowMini->trigger();
        frmMiniBandwidth *first = r.w.miniWindow(false);
        QVERIFY(first && first->isVisible());
        QVERIFY(first->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        first->hide();
        r.w.mShowMini->trigger();
        QCOMPARE(r.w.miniWindow(false), first);
        QVERIFY(first->isVisible());
        QCOMPARE(miniWindowCount(), 1);
        r.w.mShowDialog->trigger(); // Show Main leaves the mini window alone
        QVERIFY(first->isVisible());
        // Closed by its close box, it is made afresh on the next use.
        first->close();
        QTRY_COMPARE(r.w.miniWindow(false), nullptr);
        r.w.mShowMini->trigger();
        QVERIFY(r.w.miniWindow(false));
        QCOMPARE(miniWindowCount(), 1);
    }

    void exitUnloadsEvenWhenHidden() {
        for (bool hidden : {false, true}) {
            Rig r;
            r.w.show();
            r.w.setHidden(hidden); // in the tray
            r.w.mExit->trigger();
            QVERIFY(r.w.unloaded);
            QVERIFY(!r.w.isVisible());
        }
    }

    // The menu goes to the host with "Show Main" as its default item.
    void hostGetsTheMenu() {
        Rig r;
        QCOMPARE(r.env.tray.menu, r.w.mPopup);
        QCOMPARE(r.w.mPopup->objectName(), QStringLiteral("mPopup"));
        QCOMPARE(r.w.mPopup->defaultAction(), r.w.mShowDialog);
        QStringList items;
        for (const QAction *item : r.w.mPopup->actions())
            items << item->objectName() + u'=' + (item->isSeparator() ? "-" : item->text());
        QCOMPARE(items,
                 QStringList({"mShowDialog=Show Main", "mShowMini=Show Mini Bandiwdth Monitor",
                              "msep1=-", "mExit=E&xit"}));
    }

    // The maker link shows the address it opens, drawn as an underlined
    // pure blue link under a pointing hand, and a click opens it.
    void makerLink() {
        Rig r;
        QList<QUrl> opened;
        r.w.openUrl = [&opened](const QUrl &url) {
            opened << url;
            return true;
        };
        QLabel *link = r.label("lblZarnDev");
        QVERIFY(link->text().contains(QLatin1String("href=\"https://www.zarndev.example/\"")));
        QVERIFY(link->text().contains(QLatin1String(">www.zarndev.example</a>")));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(link->font().underline());
        const QImage drawn = link->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int blue = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                blue += drawn.pixel(x, y) == qRgb(0, 0, 255);
        QVERIFY2(blue > 10, "the link is not drawn in blue");

        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(link->width() / 2, link->height() / 2));
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zarndev.example/"))});
    }
};

QTEST_MAIN(WindowStatesTest)
#include "test_window_states.moc"
