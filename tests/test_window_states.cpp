#include "support/Fakes.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QUrl>
#include <QtTest>

namespace {

QCheckBox *minimizeToTray(frmMain &w) {
    return w.findChild<QCheckBox *>(QStringLiteral("chkMinimizeToTray"));
}

// "hidden" (tray only), "taskbar" (shown, minimised) or "normal".
QString where(const frmMain &w) {
    if (!w.isVisible())
        return QStringLiteral("hidden");
    return w.isMinimized() ? QStringLiteral("taskbar") : QStringLiteral("normal");
}

void userMinimises(frmMain &w) {
    w.setWindowState(w.windowState() | Qt::WindowMinimized);
}

void userRestores(frmMain &w) {
    w.setWindowState(w.windowState() & ~Qt::WindowMinimized);
}

int miniWindowCount() {
    int n = 0;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (qobject_cast<frmMiniBandwidth *>(top))
            ++n;
    return n;
}

} // namespace

class WindowStatesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // The offscreen platform cannot stack windows and says so on every
        // raise; that is expected here and would bury real warnings.
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                if (text != QLatin1String("This plugin does not support raise()"))
                    previous(type, context, text);
            });
    }

    // Steps: "min" (the user minimises), "restore" (from the taskbar),
    // "main" (Show Main), "dbl" (double-click on the tray icon), "hide"
    // (start-up hides the window), "toTray" (tick "Minimize to the system
    // tray"). After each
    // step: where the window is and the marker, as "taskbar/BringUp".
    void minimiseAndBringBack_data() {
        QTest::addColumn<bool>("trayIcon");
        QTest::addColumn<bool>("toTray");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("after");

        QTest::newRow("minimise goes to the tray")
            << true << true << QStringList{"min"} << QStringList{"hidden/"};
        QTest::newRow("tray icon off: stays on the taskbar")
            << false << true << QStringList{"min"} << QStringList{"taskbar/"};
        QTest::newRow("option off: stays on the taskbar")
            << true << false << QStringList{"min"} << QStringList{"taskbar/"};
        QTest::newRow("both off") << false << false << QStringList{"min"}
                                  << QStringList{"taskbar/"};
        QTest::newRow("back from the tray, then to the tray again")
            << true << true << QStringList{"min", "main", "min"}
            << QStringList{"hidden/", "normal/", "hidden/"};
        QTest::newRow("hidden by start-up, brought back, minimised to the tray")
            << true << true << QStringList{"hide", "dbl", "min"}
            << QStringList{"hidden/", "normal/", "hidden/"};
        QTest::newRow("hidden by start-up, Show Main from the menu")
            << true << true << QStringList{"hide", "main", "min"}
            << QStringList{"hidden/", "normal/", "hidden/"};
        QTest::newRow("double-click brings it back from the tray")
            << true << true << QStringList{"min", "dbl"} << QStringList{"hidden/", "normal/"};
        QTest::newRow("back from the taskbar clears the marker")
            << false << true << QStringList{"min", "main"} << QStringList{"taskbar/", "normal/"};
        QTest::newRow("restore from the taskbar, minimise to tray")
            << true << false << QStringList{"min", "restore", "toTray", "min"}
            << QStringList{"taskbar/", "normal/", "normal/", "hidden/"};
        // Show Main on a window already normal causes no state change: the
        // marker stays, the next minimise keeps to the taskbar and clears it,
        // the one after goes to the tray.
        QTest::newRow("marker outlives Show Main on a normal window")
            << true << true << QStringList{"main", "min", "restore", "min"}
            << QStringList{"normal/BringUp", "taskbar/", "normal/", "hidden/"};
        QTest::newRow("two Show Mains, one marker")
            << true << true << QStringList{"main", "main", "min", "restore", "min"}
            << QStringList{"normal/BringUp", "normal/BringUp", "taskbar/", "normal/", "hidden/"};
    }
    void minimiseAndBringBack() {
        QFETCH(bool, trayIcon);
        QFETCH(bool, toTray);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, after);
        QCOMPARE(steps.size(), after.size());

        TestPlatform env;
        frmMain w(env.platform());
        w.showTrayIcon = trayIcon;
        minimizeToTray(w)->setChecked(toTray);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QString &step = steps[i];
            if (step == QLatin1String("min"))
                userMinimises(w);
            else if (step == QLatin1String("restore"))
                userRestores(w);
            else if (step == QLatin1String("main"))
                w.mShowDialog->trigger();
            else if (step == QLatin1String("dbl"))
                env.tray.activate(TrayActivation::DoubleClick);
            else if (step == QLatin1String("hide"))
                w.hide();
            else if (step == QLatin1String("toTray"))
                minimizeToTray(w)->setChecked(true);
            QCOMPARE(where(w) + QLatin1Char('/') + w.Tag, after[i]);
        }
    }

    // Which mouse actions on the icon bring the hidden window back, on a
    // host that reports double-clicks (XEmbed) and on one that does not
    // (StatusNotifierItem).
    void trayActionsByHostKind_data() {
        QTest::addColumn<bool>("hostReportsDoubleClick");
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("bringsBack");
        const auto row = [](const char *name, bool dbl, TrayActivation r, bool back) {
            QTest::newRow(name) << dbl << int(r) << back;
        };
        row("XEmbed double-click", true, TrayActivation::DoubleClick, true);
        row("XEmbed single click", true, TrayActivation::Trigger, false);
        row("XEmbed right click", true, TrayActivation::Context, false);
        row("XEmbed middle click", true, TrayActivation::MiddleClick, false);
        row("XEmbed unknown", true, TrayActivation::Unknown, false);
        row("SNI activate", false, TrayActivation::Trigger, true);
        row("SNI double-click", false, TrayActivation::DoubleClick, true);
        row("SNI context", false, TrayActivation::Context, false);
        row("SNI middle click", false, TrayActivation::MiddleClick, false);
    }
    void trayActionsByHostKind() {
        QFETCH(bool, hostReportsDoubleClick);
        QFETCH(int, reason);
        QFETCH(bool, bringsBack);

        TestPlatform env;
        env.tray.doubleClicks = hostReportsDoubleClick;
        frmMain w(env.platform());
        w.showTrayIcon = true;
        w.show();
        userMinimises(w);
        QCOMPARE(where(w), QStringLiteral("hidden"));
        env.tray.activate(TrayActivation(reason));
        QCOMPARE(where(w), bringsBack ? QStringLiteral("normal") : QStringLiteral("hidden"));
        QCOMPARE(miniWindowCount(), 0);
        QVERIFY(!w.unloaded);
    }

    void hostOpensTheMenuWithShowMainFirst() {
        TestPlatform env;
        frmMain w(env.platform());
        QCOMPARE(env.tray.menu, w.mPopup);
        QCOMPARE(w.mPopup->defaultAction(), w.mShowDialog);
        QStringList texts;
        for (QAction *a : w.mPopup->actions())
            texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(texts, (QStringList{"Show Main", "Show Mini Bandiwdth Monitor", "-", "E&xit"}));
    }

    void miniWindowIsOneAndOnTop() {
        TestPlatform env;
        frmMain w(env.platform());
        QCOMPARE(w.miniWindow(false), nullptr);
        w.mShowMini->trigger();
        frmMiniBandwidth *first = w.miniWindow(false);
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QVERIFY(first->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        first->hide();
        w.mShowMini->trigger();
        QCOMPARE(w.miniWindow(false), first);
        QVERIFY(first->isVisible());
        QCOMPARE(miniWindowCount(), 1);
        // Show Main leaves the mini window alone.
        w.mShowDialog->trigger();
        QVERIFY(first->isVisible());
        // Closed by its close box, it is made afresh on the next use.
        first->close();
        QTRY_COMPARE(w.miniWindow(false), nullptr);
        w.mShowMini->trigger();
        QVERIFY(w.miniWindow(false));
        QCOMPARE(miniWindowCount(), 1);
    }

    void exitUnloadsEvenWhenHidden_data() {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("shown") << false;
        QTest::newRow("hidden in the tray") << true;
    }
    void exitUnloadsEvenWhenHidden() {
        QFETCH(bool, hidden);
        TestPlatform env;
        frmMain w(env.platform());
        w.show();
        if (hidden)
            w.hide();
        w.mExit->trigger();
        QVERIFY(w.unloaded);
        QVERIFY(!w.isVisible());
    }

    void makerLinkOpensThePage() {
        TestPlatform env;
        frmMain w(env.platform());
        QList<QUrl> opened;
        w.openUrl = [&opened](const QUrl &url) {
            opened << url;
            return true;
        };
        auto *label = w.findChild<QLabel *>(QStringLiteral("lblZarnDev"));
        QVERIFY(label);
        emit label->linkActivated(QStringLiteral("ignored"));
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zarndev.example/"))});
        // The label shows the address it opens.
        QVERIFY(label->text().contains(frmMain::makerPage().toString()));
        QVERIFY(label->text().contains(frmMain::makerPage().host()));
    }
};

QTEST_MAIN(WindowStatesTest)
#include "test_window_states.moc"
