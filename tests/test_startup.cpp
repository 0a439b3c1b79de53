#include "app/CommandLine.h"
#include "settings/Registry.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

// Start-up against the fake platform. The tray option handlers and the
// adapter list are filled in elsewhere; these tests only rely on what those
// must do anyway (store the same state again, never add an icon of their
// own), so they hold whether those handlers are complete or not.
namespace {

const QString kProgram = QStringLiteral("/opt/zarn/bin/zarn-bandwidth");

template <typename T> T *control(frmMain &window, const char *name) {
    T *found = window.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

Qt::CheckState state(frmMain &window, const char *box) {
    return control<QCheckBox>(window, box)->checkState();
}

// The value as the file holds it, whatever its kind: tells a value left
// alone from one rewritten, even where readSetting would give the default.
QVariant rawValue(const TestPlatform &env, const QString &key) {
    return QSettings(env.settingsFilePath(), QSettings::IniFormat).value(key);
}

QStringList rawKeys(const TestPlatform &env) {
    return QSettings(env.settingsFilePath(), QSettings::IniFormat).allKeys();
}

bool thresholdsEditable(frmMain &window) {
    return control<QWidget>(window, "txtYellowThreshold")->isEnabledTo(&window) &&
           control<QWidget>(window, "txtRedThreshold")->isEnabledTo(&window) &&
           control<QWidget>(window, "lblRedIconThreshold")->isEnabledTo(&window);
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void firstRun() {
        TestPlatform env;
        frmMain window(env.platform());
        window.startUp();

        QVERIFY(!env.settingsFileExists()); // nothing written at all
        QVERIFY(env.autostart.calls.isEmpty());
        QCOMPARE(window.tmrAdapterUpdate->interval(), 300);
        QVERIFY(window.tmrAdapterUpdate->isActive());
        QCOMPARE(control<QLineEdit>(window, "txtFrequency")->text(), QStringLiteral("300"));

        QCOMPARE(env.tray.count(FakeTrayHost::Request::Show), 1);
        QVERIFY(env.tray.shown);
        QCOMPARE(env.tray.tip, QStringLiteral("Zarn Bandwidth"));
        QVERIFY(window.trayIcon.trayRecord().picture == TrayPicture::idle());
        QCOMPARE(window.trayIcon.trayRecord().window.data(), &window);

        QVERIFY(window.isVisible());
        QCOMPARE(control<QTabWidget>(window, "Tabs")->currentIndex(), 2);
        QCOMPARE(control<QLabel>(window, "lblVersion")->text(),
                 QStringLiteral("Zarn Bandwidth Version 1.20"));

        QVERIFY(window.showTrayIcon && window.animateTrayIcon && window.showBandwidthInTray);
        QVERIFY(!window.multiLineTooltip);
        QCOMPARE(window.trackedAdapter, QStringLiteral("0"));
        QCOMPARE(window.selectedAdapter, 0);
        for (const char *box : {"chkShowTrayIcon", "chkAnimateTrayIcon", "chkShowBandwidth",
                                "chkMinimizeToTray", "chkAutoAdjustThreshold"})
            QVERIFY2(state(window, box) == Qt::Checked, box);
        QCOMPARE(state(window, "chkStartupMinimized"), Qt::Unchecked);
        QCOMPARE(state(window, "chkStartWithWin"), Qt::Unchecked);
        QVERIFY(!thresholdsEditable(window));
    }

    void argument_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("showTrayIcon"); // stored text; empty: none stored
        QTest::addColumn<bool>("hidden");
        QTest::newRow("-startup") << "-startup"
                                  << "" << true;
        QTest::newRow("-startup, tray 1") << "-startup"
                                          << "1" << true;
        QTest::newRow("-startup, tray maybe") << "-startup"
                                              << "maybe" << true;
        QTest::newRow("-startup, tray 0") << "-startup"
                                          << "0" << false;
        QTest::newRow("capitals") << "-STARTUP"
                                  << "" << false;
        QTest::newRow("more text") << "-startup x"
                                   << "" << false;
        QTest::newRow("blank before") << " -startup"
                                      << "" << false;
        QTest::newRow("none") << ""
                              << "" << false;
    }
    void argument() {
        QFETCH(QString, argument);
        QFETCH(QString, showTrayIcon);
        QFETCH(bool, hidden);
        TestPlatform env;
        if (!showTrayIcon.isEmpty())
            env.writeSettingsFile("[General]\nShowTrayIcon=" + showTrayIcon.toUtf8() + "\n");
        frmMain window(env.platform(argument));
        window.startUp();
        QCOMPARE(window.isHidden(), hidden);
        const bool iconWanted = showTrayIcon != QLatin1String("0");
        QCOMPARE(env.tray.count(FakeTrayHost::Request::Show), iconWanted ? 1 : 0);
        QCOMPARE(env.tray.shown, iconWanted);
        QCOMPARE(state(window, "chkShowTrayIcon"), iconWanted ? Qt::Checked : Qt::Unchecked);
        if (!showTrayIcon.isEmpty())
            QCOMPARE(rawValue(env, QStringLiteral("ShowTrayIcon")), QVariant(showTrayIcon));
    }

    void storedOptionsComeBack() {
        TestPlatform env;
        const std::pair<const char *, const char *> options[] = {
            {"ShowTrayIcon", "1"},        {"AnimateTrayIcon", "1"},
            {"ShowBandwidthInTray", "0"}, {"MinimizeToTray", "0"},
            {"StartupMinimized", "1"},    {"UpdateFrequency", " 250 "},
            {"YellowThreshold", "12.5"},  {"RedThreshold", "not a number"},
            {"AutoAdjustThreshold", "0"}, {"Adapter", " 3"},
        };
        for (const auto &[name, text] : options)
            Registry::writeSetting(QString::fromLatin1(name), QString::fromLatin1(text));

        frmMain window(env.platform());
        window.startUp();

        QCOMPARE(state(window, "chkShowBandwidth"), Qt::Unchecked);
        QVERIFY(!window.showBandwidthInTray);
        QCOMPARE(state(window, "chkMinimizeToTray"), Qt::Unchecked);
        QCOMPARE(state(window, "chkStartupMinimized"), Qt::Checked);
        QCOMPARE(control<QLineEdit>(window, "txtFrequency")->text(), QStringLiteral(" 250 "));
        QCOMPARE(window.tmrAdapterUpdate->interval(), 250);
        QCOMPARE(control<QLineEdit>(window, "txtYellowThreshold")->text(), QStringLiteral("12.5"));
        QCOMPARE(control<QLineEdit>(window, "txtRedThreshold")->text(),
                 QStringLiteral("not a number"));
        QCOMPARE(state(window, "chkAutoAdjustThreshold"), Qt::Unchecked);
        QVERIFY(thresholdsEditable(window));
        QCOMPARE(window.selectedAdapter, 3);
        // The handlers that ran stored the same texts again.
        for (const auto &[name, text] : options)
            QVERIFY2(Registry::readSetting(QString::fromLatin1(name), QStringLiteral("<absent>")) ==
                         QString::fromLatin1(text),
                     name);
    }

    void animationOffStillAddsIdleIcon() {
        TestPlatform env;
        env.writeSettingsFile("[General]\nAnimateTrayIcon=0\n");
        frmMain window(env.platform());
        window.startUp();
        QCOMPARE(state(window, "chkAnimateTrayIcon"), Qt::Unchecked);
        QVERIFY(!window.animateTrayIcon);
        QCOMPARE(env.tray.count(FakeTrayHost::Request::Show), 1);
        QVERIFY(window.trayIcon.trayRecord().picture == TrayPicture::idle());
        QCOMPARE(env.tray.tip, QStringLiteral("Zarn Bandwidth"));
        QCOMPARE(rawValue(env, QStringLiteral("AnimateTrayIcon")), QVariant(QStringLiteral("0")));
    }

    void autostart_data() {
        QTest::addColumn<bool>("present");
        QTest::newRow("present") << true;
        QTest::newRow("absent") << false;
    }
    void autostart() {
        QFETCH(bool, present);
        TestPlatform env;
        env.autostart.present = present;
        frmMain window(env.platform());
        window.startUp();
        QCOMPARE(state(window, "chkStartWithWin"), present ? Qt::Checked : Qt::Unchecked);
        // A present entry is rewritten for the program running now.
        QCOMPARE(env.autostart.calls,
                 present ? QStringList{QStringLiteral("enable ") + kProgram} : QStringList{});
        QVERIFY(!env.settingsFileExists());
    }

    // Values a user or another program may leave in the file: start-up goes
    // on with the reader's default and leaves the stored value as it was.
    void malformed_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("interval");
        QTest::addColumn<QString>("frequencyText");
        QTest::addColumn<bool>("showTray");
        QTest::addColumn<int>("minimize");
        QTest::addColumn<int>("startupMinimized");
        QTest::addColumn<int>("autoAdjust");
        QTest::addColumn<int>("adapter");
        const auto row = [](const char *name, const char *line) -> QTestData & {
            return QTest::newRow(name) << QByteArray(line);
        };
        const int on = Qt::Checked, off = Qt::Unchecked, grey = Qt::PartiallyChecked;
        row("frequency abc", "UpdateFrequency=abc") << 300 << "300" << true << on << off << on << 0;
        row("frequency 0", "UpdateFrequency=0") << 300 << "300" << true << on << off << on << 0;
        row("frequency 99999999", "UpdateFrequency=99999999")
            << 300 << "300" << true << on << off << on << 0;
        row("frequency empty", "UpdateFrequency=") << 300 << "300" << true << on << off << on << 0;
        row("frequency list", "UpdateFrequency=1, 5")
            << 300 << "300" << true << on << off << on << 0;
        row("frequency 1e400", "UpdateFrequency=1e400")
            << 300 << "300" << true << on << off << on << 0;
        row("frequency 250.5", "UpdateFrequency=250.5")
            << 250 << "250.5" << true << on << off << on << 0;
        row("flag maybe", "ShowTrayIcon=maybe") << 300 << "300" << true << on << off << on << 0;
        row("flag empty", "ShowTrayIcon=") << 300 << "300" << true << on << off << on << 0;
        row("flag bytes", "ShowTrayIcon=@ByteArray(0)")
            << 300 << "300" << true << on << off << on << 0;
        row("state 7", "MinimizeToTray=7") << 300 << "300" << true << on << off << on << 0;
        row("state x", "MinimizeToTray=x") << 300 << "300" << true << on << off << on << 0;
        row("state 2 is greyed", "MinimizeToTray=2")
            << 300 << "300" << true << grey << off << on << 0;
        row("state -1", "StartupMinimized=-1") << 300 << "300" << true << on << off << on << 0;
        row("state 1e9", "AutoAdjustThreshold=1e9") << 300 << "300" << true << on << off << on << 0;
        row("adapter x", "Adapter=x") << 300 << "300" << true << on << off << on << 0;
        row("adapter beyond 32 bits", "Adapter=99999999999")
            << 300 << "300" << true << on << off << on << 0;
    }
    void malformed() {
        QFETCH(QByteArray, line);
        QFETCH(int, interval);
        QFETCH(QString, frequencyText);
        QFETCH(bool, showTray);
        QFETCH(int, minimize);
        QFETCH(int, startupMinimized);
        QFETCH(int, autoAdjust);
        QFETCH(int, adapter);
        TestPlatform env;
        env.writeSettingsFile("[General]\n" + line + "\n");
        const QString key = QString::fromLatin1(line.left(line.indexOf('=')));
        const QVariant before = rawValue(env, key);
        const QStringList keysBefore = rawKeys(env);

        frmMain window(env.platform(QStringLiteral("-startup")));
        window.startUp();

        QCOMPARE(window.tmrAdapterUpdate->interval(), interval);
        QVERIFY(window.tmrAdapterUpdate->isActive());
        QCOMPARE(control<QLineEdit>(window, "txtFrequency")->text(), frequencyText);
        QCOMPARE(window.showTrayIcon, showTray);
        QCOMPARE(window.isHidden(), showTray);
        QCOMPARE(int(state(window, "chkMinimizeToTray")), minimize);
        QCOMPARE(int(state(window, "chkStartupMinimized")), startupMinimized);
        QCOMPARE(int(state(window, "chkAutoAdjustThreshold")), autoAdjust);
        QCOMPARE(window.selectedAdapter, adapter);
        QCOMPARE(control<QLabel>(window, "lblVersion")->text(),
                 QStringLiteral("Zarn Bandwidth Version 1.20")); // start-up went to its end

        QCOMPARE(rawValue(env, key), before);
        QCOMPARE(rawKeys(env), keysBefore);
    }

    void argumentText_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QStringList{QStringLiteral("prog")} << "";
        QTest::newRow("-startup") << QStringList{QStringLiteral("prog"), QStringLiteral("-startup")}
                                  << "-startup";
        QTest::newRow("two") << QStringList{QStringLiteral("prog"), QStringLiteral("-startup"),
                                            QStringLiteral("x")}
                             << "-startup x";
        QTest::newRow("empty second")
            << QStringList{QStringLiteral("prog"), QStringLiteral("-startup"), QString()}
            << "-startup ";
        QTest::newRow("Qt option kept")
            << QStringList{QStringLiteral("prog"), QStringLiteral("-startup"),
                           QStringLiteral("-platform"), QStringLiteral("offscreen")}
            << "-startup -platform offscreen";
    }
    void argumentText() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, text);
        std::vector<QByteArray> bytes;
        std::vector<const char *> argv;
        for (const QString &a : arguments)
            bytes.push_back(a.toLocal8Bit());
        for (const QByteArray &b : bytes)
            argv.push_back(b.constData());
        QCOMPARE(::argumentText(int(argv.size()), argv.data()), text);
    }

    void unloadRemovesIconAndMiniWindow() {
        TestPlatform env;
        frmMain window(env.platform());
        window.startUp();
        QPointer<frmMiniBandwidth> mini = window.miniWindow(true);
        mini->show();
        window.Form_Unload();
        QCOMPARE(env.tray.count(FakeTrayHost::Request::Remove), 1);
        QVERIFY(!env.tray.shown);
        QVERIFY(mini.isNull());
        QVERIFY(window.miniWindow(false) == nullptr);
        QVERIFY(window.unloaded);
        QVERIFY(!env.settingsFileExists()); // nothing written at shutdown
    }

    void closeBoxEndsTheProgram() {
        TestPlatform env;
        frmMain window(env.platform());
        window.startUp();
        QTimer::singleShot(0, &window, &QWidget::close);
        // Safety net: a loop that Form_Unload fails to end fails the test
        // instead of hanging it.
        QTimer safety;
        safety.setSingleShot(true);
        connect(&safety, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
        safety.start(5000);
        window.tmrAdapterUpdate->stop();
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(window.unloaded);
        QVERIFY(!window.isVisible());
        QCOMPARE(env.tray.count(FakeTrayHost::Request::Remove), 1);
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
