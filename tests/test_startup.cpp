#include "app/CommandLine.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QTabWidget>
#include <QTimer>

// Start-up against the fake platform.
namespace {

const QString kVersion = QStringLiteral("Zarn Bandwidth Version 1.20");

// What start-up left, in one line: interval, frequency text, tray icon,
// hidden, the three check states read from the file, the adapter.
QString summary(Rig &r) {
    return QStringLiteral("%1 '%2' tray=%3 hidden=%4 min=%5 startMin=%6 auto=%7 adapter=%8")
        .arg(r.w.tmrAdapterUpdate->interval())
        .arg(r.edit("txtFrequency")->text())
        .arg(int(r.w.showTrayIcon))
        .arg(int(r.w.isHidden()))
        .arg(int(r.state("chkMinimizeToTray")))
        .arg(int(r.state("chkStartupMinimized")))
        .arg(int(r.state("chkAutoAdjustThreshold")))
        .arg(r.w.selectedAdapter);
}

bool thresholdsEditable(Rig &r) {
    return r.enabled("txtYellowThreshold") && r.enabled("txtRedThreshold") &&
           r.enabled("lblRedIconThreshold");
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void firstRun() {
        Rig r;
        r.w.startUp();
        QVERIFY(!r.env.settingsFileExists()); // nothing written at all
        QVERIFY(r.env.autostart.calls.isEmpty());
        QVERIFY(r.w.tmrAdapterUpdate->isActive());
        QCOMPARE(summary(r), QStringLiteral("300 '300' tray=1 hidden=0 min=2 startMin=0 auto=2 "
                                            "adapter=0"));
        QCOMPARE(requestLog(r.env.tray), QStringLiteral("show:Zarn Bandwidth"));
        QVERIFY(r.w.trayIcon.trayRecord().picture == TrayPicture::idle());
        QCOMPARE(r.w.trayIcon.trayRecord().window.data(), &r.w);
        QVERIFY(r.w.isVisible());
        QCOMPARE(r.get<QTabWidget>("Tabs")->currentIndex(), 2); // no current adapter
        QCOMPARE(r.text("lblVersion"), kVersion);
        QVERIFY(r.w.animateTrayIcon && r.w.showBandwidthInTray && !r.w.multiLineTooltip);
        QCOMPARE(r.w.trackedAdapter, QStringLiteral("0"));
        for (const char *box : {"chkShowTrayIcon", "chkAnimateTrayIcon", "chkShowBandwidth"})
            QVERIFY2(r.state(box) == Qt::Checked, box);
        QCOMPARE(r.state("chkStartWithWin"), Qt::Unchecked);
        QVERIFY(!thresholdsEditable(r));
    }

    // Stored "0" for the tray icon and for its animation, "-startup"
    // compared whole, letter case included, and a desktop with no tray.
    // The window ends "hidden", "normal" or "minimised" (on the taskbar).
    void argument_data() {
        columns<QString, QByteArray, bool, QString, QString>(
            {"argument", "file", "trayOnDesktop", "window", "tray"});
        row("-startup", "-startup", QByteArray(), true, "hidden", "show:Zarn Bandwidth");
        row("-startup, tray maybe", "-startup", QByteArray("ShowTrayIcon=maybe"), true, "hidden",
            "show:Zarn Bandwidth");
        row("-startup, tray 0", "-startup", QByteArray("ShowTrayIcon=0"), true, "normal", "");
        row("-startup, no tray on the desktop", "-startup", QByteArray(), false, "minimised",
            "show:Zarn Bandwidth");
        row("no tray on the desktop", "", QByteArray(), false, "normal", "show:Zarn Bandwidth");
        row("animation 0: idle icon all the same", "", QByteArray("AnimateTrayIcon=0"), true,
            "normal", "show:Zarn Bandwidth");
        row("capitals", "-STARTUP", QByteArray(), true, "normal", "show:Zarn Bandwidth");
        row("more text", "-startup x", QByteArray(), true, "normal", "show:Zarn Bandwidth");
        row("blank before", " -startup", QByteArray(), true, "normal", "show:Zarn Bandwidth");
    }
    void argument() {
        QFETCH(QString, argument);
        QFETCH(QByteArray, file);
        Rig r(argument);
        QFETCH(bool, trayOnDesktop);
        r.env.tray.available = trayOnDesktop;
        if (!file.isEmpty())
            r.env.writeSettingsFile("[General]\n" + file + "\n");
        const QByteArray before = fileBytes(r.env.settingsFilePath());
        r.w.startUp();
        QTEST(QString::fromLatin1(r.w.isHidden()      ? "hidden"
                                  : r.w.isMinimized() ? "minimised"
                                                      : "normal"),
              "window");
        QTEST(requestLog(r.env.tray), "tray");
        QCOMPARE(r.env.tray.shown, file != "ShowTrayIcon=0");
        QCOMPARE(r.box("chkShowTrayIcon")->isChecked(), file != "ShowTrayIcon=0");
        QCOMPARE(r.box("chkAnimateTrayIcon")->isChecked(), file != "AnimateTrayIcon=0");
        QCOMPARE(r.w.animateTrayIcon, file != "AnimateTrayIcon=0");
        if (r.env.tray.shown)
            QVERIFY(r.w.trayIcon.trayRecord().picture == TrayPicture::idle());
        QCOMPARE(fileBytes(r.env.settingsFilePath()), before); // left as it was
    }

    void storedOptionsComeBack() {
        Rig r;
        const std::pair<const char *, const char *> options[] = {
            {"ShowTrayIcon", "1"},        {"AnimateTrayIcon", "1"},
            {"ShowBandwidthInTray", "0"}, {"MinimizeToTray", "0"},
            {"StartupMinimized", "1"},    {"UpdateFrequency", " 250 "},
            {"YellowThreshold", "12.5"},  {"RedThreshold", "not a number"},
            {"AutoAdjustThreshold", "0"}, {"Adapter", " 3"},
        };
        for (const auto &[name, text] : options)
            store(QLatin1String(name), QLatin1String(text));
        r.w.startUp();
        QCOMPARE(summary(r), QStringLiteral("250 ' 250 ' tray=1 hidden=0 min=0 startMin=2 auto=0 "
                                            "adapter=3"));
        QCOMPARE(r.state("chkShowBandwidth"), Qt::Unchecked);
        QVERIFY(!r.w.showBandwidthInTray);
        QCOMPARE(r.edit("txtYellowThreshold")->text(), QStringLiteral("12.5"));
        QCOMPARE(r.edit("txtRedThreshold")->text(), QStringLiteral("not a number"));
        QVERIFY(thresholdsEditable(r));
        // The handlers that ran stored the same texts again.
        for (const auto &[name, text] : options)
            QVERIFY2(stored(QLatin1String(name)) == QLatin1String(text), name);
    }

    // A present entry is rewritten for the program running now.
    void autostart() {
        for (bool present : {false, true}) {
            Rig r;
            r.env.autostart.present = present;
            r.w.startUp();
            QCOMPARE(r.box("chkStartWithWin")->isChecked(), present);
            QCOMPARE(r.env.autostart.calls.join(u' '),
                     present ? QStringLiteral("enable /opt/zarn/bin/zarn-bandwidth") : QString());
            QVERIFY(!r.env.settingsFileExists());
        }
    }

    // Values a user or another program may leave in the file: start-up goes
    // on with the reader's default and leaves the stored value as it was.
    void malformed_data() {
        columns<QByteArray, QString>({"line", "summary"});
        const char *defaults = "300 '300' tray=1 hidden=1 min=2 startMin=0 auto=2 adapter=0";
        for (const char *line :
             {"UpdateFrequency=abc", "UpdateFrequency=0", "UpdateFrequency=99999999",
              "UpdateFrequency=", "UpdateFrequency=1, 5", "UpdateFrequency=1e400",
              "ShowTrayIcon=maybe", "ShowTrayIcon=", "ShowTrayIcon=@ByteArray(0)",
              "MinimizeToTray=7", "MinimizeToTray=x", "StartupMinimized=-1",
              "AutoAdjustThreshold=1e9", "Adapter=x", "Adapter=99999999999"})
            row(line, QByteArray(line), defaults);
        row("frequency 250.5", QByteArray("UpdateFrequency=250.5"),
            "250 '250.5' tray=1 hidden=1 min=2 startMin=0 auto=2 adapter=0");
        row("state 2 is greyed", QByteArray("MinimizeToTray=2"),
            "300 '300' tray=1 hidden=1 min=1 startMin=0 auto=2 adapter=0");
    }
    void malformed() {
        QFETCH(QByteArray, line);
        Rig r(QStringLiteral("-startup"));
        r.env.writeSettingsFile("[General]\n" + line + "\n");
        const QByteArray before = fileBytes(r.env.settingsFilePath());
        r.w.startUp();
        QTEST(summary(r), "summary");
        QVERIFY(r.w.tmrAdapterUpdate->isActive());
        QCOMPARE(r.text("lblVersion"), kVersion);              // start-up went to its end
        QCOMPARE(fileBytes(r.env.settingsFilePath()), before); // left as it was
    }

    void argumentText_data() {
        columns<QStringList, QString>({"arguments", "text"});
        row("none", QStringList{"prog"}, "");
        row("-startup", QStringList{"prog", "-startup"}, "-startup");
        row("two", QStringList{"prog", "-startup", "x"}, "-startup x");
        row("empty second", QStringList{"prog", "-startup", ""}, "-startup ");
        row("Qt option kept", QStringList{"prog", "-startup", "-platform", "offscreen"},
            "-startup -platform offscreen");
    }
    void argumentText() {
        QFETCH(QStringList, arguments);
        std::vector<QByteArray> bytes;
        std::vector<const char *> argv;
        for (const QString &a : arguments)
            bytes.push_back(a.toLocal8Bit());
        for (const QByteArray &b : bytes)
            argv.push_back(b.constData());
        QTEST(::argumentText(int(argv.size()), argv.data()), "text");
    }

    // Unload deletes the icon and the mini window and writes nothing; the
    // close box ends the program the same way.
    void unloadAndCloseBox_data() {
        columns<bool>({"closeBox"});
        row("Form_Unload", false);
        row("close box", true);
    }
    void unloadAndCloseBox() {
        QFETCH(bool, closeBox);
        Rig r;
        r.w.startUp();
        r.w.tmrAdapterUpdate->stop();
        QPointer<frmMiniBandwidth> mini = r.w.miniWindow(true);
        mini->show();
        if (closeBox) {
            QTimer::singleShot(0, &r.w, &QWidget::close);
            // A loop that Form_Unload fails to end fails the test instead of
            // hanging it.
            QTimer::singleShot(5000, &r.w, [] { QCoreApplication::exit(1); });
            QCOMPARE(QCoreApplication::exec(), 0);
        } else {
            r.w.Form_Unload();
        }
        QVERIFY(r.w.unloaded);
        if (closeBox)
            QVERIFY(!r.w.isVisible());
        QCOMPARE(requestLog(r.env.tray), QStringLiteral("show:Zarn Bandwidth remove"));
        QVERIFY(mini.isNull());
        QVERIFY(r.w.miniWindow(false) == nullptr);
        QVERIFY(!r.env.settingsFileExists()); // nothing written at shutdown
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
