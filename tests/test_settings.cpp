#include "settings/Registry.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QDir>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>

// The settings store, on Linux a file the user and other programs may edit
// or damage, and start-up and shutdown of the main window over it. Reading
// never writes: the stored bytes stay as they were until the user changes
// that very option.
namespace {

const QString kDefault = QStringLiteral("<default>");

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

// Every file below the folder, with its contents: a store left exactly as
// it was has the same picture before and after.
QMap<QString, QByteArray> picture(const QString &folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, QFileInfo(path).isDir() ? QByteArray("<folder>") : fileBytes(path));
    }
    return files;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data() {
        const auto r = table<QString>({"text"});
        r("empty is not the default", "");
        r("blanks kept", " 250 ");
        r("comma and blank", "a, b");
        r("leading at", "@ByteArray(x)");
        r("newline and backslash", "two\nC:\\Tools\\");
        r("cut at NUL", QStringLiteral("ab") + QChar(u'\0') + QStringLiteral("cd"));
    }
    void roundTrip() {
        const QString text = cell<QString>("text");
        TestPlatform env;
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault), kDefault);
        QVERIFY(!QFileInfo::exists(QFileInfo(env.settingsFilePath()).path())); // nothing created
        Registry::writeSetting(QStringLiteral("Value"), text);
        // On disk at once, before anything else runs.
        QVERIFY(fileBytes(env.settingsFilePath()).contains("Value="));
        QCOMPARE(Registry::readSetting(QStringLiteral("Value"), kDefault),
                 text.left(text.indexOf(QChar(u'\0'))));
    }

    // Lines as a user or another program might leave them in the file.
    void handEdited_data() {
        const auto r = table<QByteArray, QString>({"line", "expected"});
        r("quoted list text", "Value=\"a, b\"", "a, b");
        r("list", "Value=a, b", kDefault);
        r("byte array", "Value=@ByteArray(abc)", kDefault);
        r("NUL inside", "Value=ab\\0cd", "ab");
        r("group, not a value", "[Value]\nInner=1", kDefault);
        r("only another key", "value=1", kDefault);
    }
    void handEdited() {
        TestPlatform env;
        const QByteArray content = "[General]\nKeep=me\n" + cell<QByteArray>("line") + "\n";
        env.writeSettingsFile(content);
        QTEST(Registry::readSetting(QStringLiteral("Value"), kDefault), "expected");
        QCOMPARE(fileBytes(env.settingsFilePath()), content); // reads never write
        // A write keeps the values it does not change.
        Registry::writeSetting(QStringLiteral("Other"), QStringLiteral("1"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Keep"), kDefault), QStringLiteral("me"));
    }

    void firstRun() {
        Rig r;
        r.w.startUp();
        QVERIFY(!r.env.settingsFileExists()); // nothing written at all
        QVERIFY(r.env.autostart.calls.isEmpty());
        QVERIFY(r.w.tmrAdapterUpdate->isActive());
        QCOMPARE(summary(r),
                 QStringLiteral("300 '300' tray=1 hidden=0 min=2 startMin=0 auto=2 adapter=0"));
        QCOMPARE(requestLog(r.env.tray), QStringLiteral("show:Zarn Bandwidth"));
        QCOMPARE(r.get<QTabWidget>("Tabs")->currentIndex(), 2); // no current adapter
        QCOMPARE(r.text("lblVersion"), QStringLiteral("Zarn Bandwidth Version 1.20"));
        QVERIFY(r.w.animateTrayIcon && r.w.showBandwidthInTray && !r.w.multiLineTooltip);
        QVERIFY(!r.enabled("txtYellowThreshold"));
    }

    // Stored "0" for the tray icon and for its animation, "-startup"
    // compared whole, and a desktop with no tray. The window ends "hidden",
    // "normal" or "minimised" (on the taskbar).
    void argument_data() {
        const auto r = table<QString, QByteArray, bool, QString>(
            {"argument", "file", "trayOnDesktop", "window"});
        r("-startup", "-startup", "", true, "hidden");
        r("-startup, tray 0", "-startup", "ShowTrayIcon=0", true, "normal");
        r("-startup, no tray on the desktop", "-startup", "", false, "minimised");
        r("animation 0: idle icon all the same", "", "AnimateTrayIcon=0", true, "normal");
        r("capitals", "-STARTUP", "", true, "normal");
        r("more text", "-startup x", "", true, "normal");
    }
    void argument() {
        const QByteArray file = cell<QByteArray>("file");
        Rig r(cell<QString>("argument"));
        r.env.tray.available = cell<bool>("trayOnDesktop");
        r.env.writeSettingsFile("[General]\n" + file + "\n");
        const QByteArray before = fileBytes(r.env.settingsFilePath());
        r.w.startUp();
        QTEST(QString(r.w.isHidden()      ? "hidden"
                      : r.w.isMinimized() ? "minimised"
                                          : "normal"),
              "window");
        QCOMPARE(requestLog(r.env.tray), file == "ShowTrayIcon=0" ? "" : "show:Zarn Bandwidth");
        QCOMPARE(r.box("chkShowTrayIcon")->isChecked(), file != "ShowTrayIcon=0");
        QCOMPARE(r.w.animateTrayIcon, file != "AnimateTrayIcon=0");
        QCOMPARE(r.box("chkAnimateTrayIcon")->isChecked(), file != "AnimateTrayIcon=0");
        if (r.env.tray.shown)
            QVERIFY(r.w.trayIcon.trayRecord().picture == TrayPicture::idle());
        QCOMPARE(fileBytes(r.env.settingsFilePath()), before);
    }

    void storedOptionsComeBack() {
        Rig r;
        const std::pair<const char *, const char *> options[] = {
            {"ShowBandwidthInTray", "0"}, {"MinimizeToTray", "0"},     {"StartupMinimized", "1"},
            {"UpdateFrequency", " 250 "}, {"YellowThreshold", "12.5"}, {"RedThreshold", "x"},
            {"AutoAdjustThreshold", "0"}, {"Adapter", " 3"},
        };
        for (const auto &[name, text] : options)
            store(QLatin1String(name), QLatin1String(text));
        r.env.autostart.present = true;
        r.w.startUp();
        QCOMPARE(summary(r),
                 QStringLiteral("250 ' 250 ' tray=1 hidden=0 min=0 startMin=2 auto=0 adapter=3"));
        QVERIFY(!r.w.showBandwidthInTray);
        QCOMPARE(r.edit("txtYellowThreshold")->text() + r.edit("txtRedThreshold")->text(), "12.5x");
        QVERIFY(r.enabled("txtYellowThreshold"));
        // The handlers that ran stored the same texts again.
        for (const auto &[name, text] : options)
            QVERIFY2(stored(QLatin1String(name)) == QLatin1String(text), name);
        // A present autostart entry is rewritten for the program running now.
        QVERIFY(r.box("chkStartWithWin")->isChecked());
        QCOMPARE(r.env.autostart.calls, QStringList{"enable /opt/zarn/bin/zarn-bandwidth"});
    }

    // A value of no use in each setting: start-up goes on with the reader's
    // default, ticks, and leaves the file as it was.
    void malformed_data() {
        const auto r = table<QByteArray, QString>({"line", "summary"});
        const char *defaults = "300 '300' tray=1 hidden=1 min=2 startMin=0 auto=2 adapter=0";
        for (const char *line :
             {"UpdateFrequency=abc", "UpdateFrequency=1e400", "ShowTrayIcon=abc",
              "AnimateTrayIcon=7", "ShowBandwidthInTray=abc", "MinimizeToTray=1.5",
              "StartupMinimized=-1", "AutoAdjustThreshold=1e9", "Adapter=x", "Adapter=99999999999",
              "YellowThreshold=abc", "RedThreshold=@ByteArray(1)"})
            r(line, line, defaults);
        r("frequency 250.5", "UpdateFrequency=250.5",
          "250 '250.5' tray=1 hidden=1 min=2 startMin=0 auto=2 adapter=0");
        r("state 2 is greyed", "MinimizeToTray=2",
          "300 '300' tray=1 hidden=1 min=1 startMin=0 auto=2 adapter=0");
    }
    void malformed() {
        Rig r(QStringLiteral("-startup"));
        r.env.interfaces.add(2, QStringLiteral("eth0"));
        r.env.writeSettingsFile("[General]\n" + cell<QByteArray>("line") + "\n");
        const QByteArray before = fileBytes(r.env.settingsFilePath());
        r.w.startUp();
        for (int i = 0; i < 3; ++i)
            r.w.tmrAdapterUpdate_Timer();
        QTEST(summary(r), "summary");
        QVERIFY(r.w.animateTrayIcon && r.w.showBandwidthInTray && r.env.messages.shown.empty());
        QVERIFY(r.w.trayIcon.trayRecord().picture == TrayPicture::idle());
        QCOMPARE(r.text("lblVersion"), QStringLiteral("Zarn Bandwidth Version 1.20")); // to its end
        QCOMPARE(fileBytes(r.env.settingsFilePath()), before);
    }

    // A store the program cannot use as it would like. The program starts
    // and runs on what it can read, the options the user changes apply for
    // the session, and nothing it had stored is lost by reading it; what
    // cannot be written leaves nothing behind, no lock or temporary file.
    void brokenStore_data() {
        const auto r = table<QString, bool, bool>({"damage", "writable", "goodValuesRead"});
        r("folder is a file", "folder is a file", false, false);
        r("file is a folder", "file is a folder", false, false);
        r("truncated", "StartupMinimi", true, true);
        r("half a line", "RedThreshold=\"12", true, true);
        r("random bytes", "random", true, false);
    }
    void brokenStore() {
        const QString damage = cell<QString>("damage");
        const bool goodValuesRead = cell<bool>("goodValuesRead");
        Rig r;
        const QString file = r.env.settingsFilePath(), folder = QFileInfo(file).path();
        const QByteArray good = "[General]\nMinimizeToTray=0\nUpdateFrequency=700\n";
        if (damage == u"folder is a file") {
            QDir().mkpath(r.env.configDir());
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.write(good);
        } else if (damage == u"file is a folder") {
            QVERIFY(QDir().mkpath(file));
        } else if (damage == u"random") {
            QByteArray bytes(65536, Qt::Uninitialized);
            QRandomGenerator random(7);
            for (char &c : bytes)
                c = char(random.bounded(256));
            r.env.writeSettingsFile(bytes);
        } else {
            r.env.writeSettingsFile(good + damage.toLatin1());
        }
        const auto before = picture(r.env.configDir());
        r.w.startUp();
        r.w.tmrAdapterUpdate_Timer();
        QCOMPARE(r.w.tmrAdapterUpdate->interval(), goodValuesRead ? 700 : 300);
        QCOMPARE(r.box("chkMinimizeToTray")->isChecked(), !goodValuesRead);
        QCOMPARE(picture(r.env.configDir()), before);

        r.box("chkMinimizeToTray")->setChecked(goodValuesRead);
        r.edit("txtFrequency")->setText(QStringLiteral("500"));
        r.w.cmdUpdateFrequency_Click();
        r.box("chkShowTrayIcon")->setChecked(false);
        r.w.tmrAdapterUpdate_Timer();
        QCOMPARE(r.w.tmrAdapterUpdate->interval(), 500);
        QVERIFY(!r.w.showTrayIcon && !r.env.tray.shown && r.env.messages.shown.empty());
        if (!cell<bool>("writable")) {
            QCOMPARE(picture(r.env.configDir()), before);
            return;
        }
        QSettings stored(file, QSettings::IniFormat);
        QCOMPARE(stored.value("MinimizeToTray").toString() +
                     stored.value("UpdateFrequency").toString() +
                     stored.value("ShowTrayIcon").toString(),
                 goodValuesRead ? "15000" : "05000");
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(file).fileName()});
    }

    // Unload deletes the icon and the mini window and writes nothing; the
    // close box ends the program the same way.
    void unloadAndCloseBox_data() {
        const auto r = table<bool>({"closeBox"});
        r("Form_Unload", false);
        r("close box", true);
    }
    void unloadAndCloseBox() {
        Rig r;
        r.w.startUp();
        r.w.tmrAdapterUpdate->stop();
        QPointer<frmMiniBandwidth> mini = r.w.miniWindow(true);
        mini->show();
        if (cell<bool>("closeBox")) {
            QTimer::singleShot(0, &r.w, &QWidget::close);
            // A loop that Form_Unload fails to end fails the test instead of hanging it.
            QTimer::singleShot(5000, &r.w, [] { QCoreApplication::exit(1); });
            QCOMPARE(QCoreApplication::exec(), 0);
            QVERIFY(!r.w.isVisible());
        } else {
            r.w.Form_Unload();
        }
        QVERIFY(r.w.unloaded && mini.isNull() && !r.w.miniWindow(false));
        QCOMPARE(requestLog(r.env.tray), QStringLiteral("show:Zarn Bandwidth remove"));
        QVERIFY(!r.env.settingsFileExists()); // nothing written at shutdown
    }
};

QTEST_MAIN(SettingsTest)
#include "test_settings.moc"
