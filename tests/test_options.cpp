#include "platform/linux/XdgAutostart.h"
#include "settings/Registry.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

const QString kAbsent = QStringLiteral("<absent>");

template <typename T> T *control(frmMain &window, const QString &name) {
    T *found = window.findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

QString stored(const char *name) {
    return Registry::readSetting(QString::fromLatin1(name), kAbsent);
}

const char *const kThresholdControls[] = {"txtYellowThreshold", "lblYellowIconThreshold",
                                          "lblYellowKsec",      "lblRedKsec",
                                          "txtRedThreshold",    "lblRedIconThreshold"};

} // namespace

class OptionsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void updateFrequency_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<int>("interval");
        const QString notNumeric = QStringLiteral("Frequency is not numeric!");
        const QString range = QStringLiteral("Frequency must be between 1 and 60000 ms!");
        QTest::newRow("300") << "en"
                             << "300"
                             << "" << 300;
        QTest::newRow("60000") << "en"
                               << "60000"
                               << "" << 60000;
        QTest::newRow("60001") << "en"
                               << "60001" << range << 0;
        QTest::newRow("0") << "en"
                           << "0" << range << 0;
        QTest::newRow("-5") << "en"
                            << "-5" << range << 0;
        QTest::newRow("0.5") << "en"
                             << "0.5" << range << 0;
        QTest::newRow("1") << "en"
                           << "1"
                           << "" << 1;
        QTest::newRow("abc") << "en"
                             << "abc" << notNumeric << 0;
        QTest::newRow("empty") << "en"
                               << "" << notNumeric << 0;
        QTest::newRow("blanks") << "en"
                                << " 250 "
                                << "" << 250;
        QTest::newRow("250.5") << "en"
                               << "250.5"
                               << "" << 250;
        QTest::newRow("grouped") << "en"
                                 << "1,500"
                                 << "" << 1500;
        QTest::newRow("German 250,5") << "de"
                                      << "250,5"
                                      << "" << 250;
        QTest::newRow("German 250.5") << "de"
                                      << "250.5" << notNumeric << 0;
    }
    void updateFrequency() {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(int, interval);
        QLocale::setDefault(locale == QLatin1String("de") ? QLocale(QLocale::German)
                                                          : QLocale(QLocale::English));
        TestPlatform env;
        frmMain window(env.platform());
        Registry::writeSetting(QStringLiteral("UpdateFrequency"), QStringLiteral("777"));
        window.tmrAdapterUpdate->start(777);

        control<QLineEdit>(window, QStringLiteral("txtFrequency"))->setText(text);
        control<QPushButton>(window, QStringLiteral("cmdUpdateFrequency"))->click();

        QVERIFY(window.tmrAdapterUpdate->isActive());
        if (message.isEmpty()) {
            QCOMPARE(env.messages.shown.size(), size_t(0));
            QCOMPARE(stored("UpdateFrequency"), text); // exactly as typed
            QCOMPARE(window.tmrAdapterUpdate->interval(), interval);
            QCOMPARE(window.tmrAdapterUpdate->timerType(), Qt::PreciseTimer);
        } else {
            QCOMPARE(env.messages.shown.size(), size_t(1));
            const auto &box = env.messages.shown.front();
            QCOMPARE(box.text, message);
            QCOMPARE(box.title, message.contains(QLatin1String("numeric"))
                                    ? QStringLiteral("Non-numeric")
                                    : QStringLiteral("Invalid frequency"));
            QCOMPARE(box.icon, MessageBoxes::Icon::Stop);
            QCOMPARE(stored("UpdateFrequency"), QStringLiteral("777"));
            QCOMPARE(window.tmrAdapterUpdate->interval(), 777);
            // The rejected text stays for the user to correct.
            QCOMPARE(control<QLineEdit>(window, QStringLiteral("txtFrequency"))->text(), text);
        }
    }

    void checkBoxStored_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("setting");
        QTest::newRow("auto adjust") << "chkAutoAdjustThreshold"
                                     << "AutoAdjustThreshold";
        QTest::newRow("minimize to tray") << "chkMinimizeToTray"
                                          << "MinimizeToTray";
        QTest::newRow("show bandwidth") << "chkShowBandwidth"
                                        << "ShowBandwidthInTray";
        QTest::newRow("start minimized") << "chkStartupMinimized"
                                         << "StartupMinimized";
    }
    void checkBoxStored() {
        QFETCH(QString, box);
        QFETCH(QString, setting);
        TestPlatform env;
        frmMain window(env.platform());
        window.showBandwidthInTray = true;
        QCheckBox *check = control<QCheckBox>(window, box);
        const bool initially = check->isChecked();
        const auto read = [&] { return Registry::readSetting(setting, kAbsent); };

        check->setChecked(!initially);
        QCOMPARE(read(), initially ? QStringLiteral("0") : QStringLiteral("1"));
        check->setChecked(initially);
        QCOMPARE(read(), initially ? QStringLiteral("1") : QStringLiteral("0"));
        check->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(read(), QStringLiteral("2"));
        if (box == QLatin1String("chkShowBandwidth")) {
            QVERIFY(window.showBandwidthInTray); // greyed is not zero
            check->setChecked(false);
            QVERIFY(!window.showBandwidthInTray);
            check->setChecked(true);
            QVERIFY(window.showBandwidthInTray);
        }
    }

    void thresholdControls_data() {
        QTest::addColumn<bool>("offered");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("manual");
        QTest::newRow("offered, ticked") << true << int(Qt::Checked) << false;
        QTest::newRow("offered, clear") << true << int(Qt::Unchecked) << true;
        QTest::newRow("offered, greyed") << true << int(Qt::PartiallyChecked) << true;
        QTest::newRow("not offered, clear") << false << int(Qt::Unchecked) << false;
        QTest::newRow("not offered, ticked") << false << int(Qt::Checked) << false;
    }
    void thresholdControls() {
        QFETCH(bool, offered);
        QFETCH(int, state);
        QFETCH(bool, manual);
        TestPlatform env;
        frmMain window(env.platform());
        QCheckBox *autoAdjust =
            control<QCheckBox>(window, QStringLiteral("chkAutoAdjustThreshold"));
        autoAdjust->setEnabled(offered);
        autoAdjust->setCheckState(Qt::CheckState(state)); // the handler updates when it changes
        if (autoAdjust->checkState() == Qt::Checked)
            window.updateThresholdControls();
        else
            QCOMPARE(stored("AutoAdjustThreshold"),
                     state == Qt::Unchecked ? QStringLiteral("0") : QStringLiteral("2"));
        for (const char *name : kThresholdControls)
            QVERIFY2(window.findChild<QWidget *>(QString::fromLatin1(name))->isEnabledTo(&window) ==
                         manual,
                     name);
        // Whether the tab or the window is enabled does not matter, only the
        // box's own flag.
        window.setEnabled(false);
        window.updateThresholdControls();
        window.setEnabled(true);
        for (const char *name : kThresholdControls)
            QVERIFY2(window.findChild<QWidget *>(QString::fromLatin1(name))->isEnabledTo(&window) ==
                         manual,
                     name);
    }

    void thresholdTextsStoredAsTyped_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("setting");
        QTest::newRow("yellow") << "txtYellowThreshold"
                                << "YellowThreshold";
        QTest::newRow("red") << "txtRedThreshold"
                             << "RedThreshold";
    }
    void thresholdTextsStoredAsTyped() {
        QFETCH(QString, box);
        QFETCH(QString, setting);
        TestPlatform env;
        frmMain window(env.platform());
        QLineEdit *edit = control<QLineEdit>(window, box);
        edit->setEnabled(true);
        for (const QString &text : {QStringLiteral("1"), QStringLiteral("12"),
                                    QStringLiteral("12.5 k"), QStringLiteral("")}) {
            edit->setText(text);
            QCOMPARE(Registry::readSetting(setting, kAbsent), text); // empty stays empty
        }
        QTest::keyClicks(edit, QStringLiteral("4a"));
        QCOMPARE(Registry::readSetting(setting, kAbsent), QStringLiteral("4a"));
    }

    void startWithSession() {
        TestPlatform env;
        frmMain window(env.platform());
        QCheckBox *box = control<QCheckBox>(window, QStringLiteral("chkStartWithWin"));
        box->setChecked(true);
        box->setChecked(false);
        QCOMPARE(env.autostart.calls,
                 QStringList({QStringLiteral("enable /opt/zarn/bin/zarn-bandwidth"),
                              QStringLiteral("disable")}));
        QVERIFY(!env.settingsFileExists()); // not a setting
    }

    void startWithSessionWritesRealEntry() {
        TestPlatform env;
        XdgAutostart xdg;
        Platform platform = env.platform();
        platform.autostart = &xdg;
        platform.programPath = env.configDir() + QStringLiteral("/my programs/zarn-bandwidth");
        frmMain window(platform);
        QCheckBox *box = control<QCheckBox>(window, QStringLiteral("chkStartWithWin"));
        box->setChecked(true);
        QVERIFY(xdg.exists());
        QFile entry(xdg.entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        QCOMPARE(entry.readAll(), XdgAutostart::entryText(platform.programPath));
        box->setChecked(false);
        QVERIFY(!xdg.exists());
    }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
