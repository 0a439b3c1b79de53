#include "support/Harness.h"

#include <QPushButton>
#include <QTimer>

namespace {
const char *const kThresholdControls[] = {"txtYellowThreshold", "lblYellowIconThreshold",
                                          "lblYellowKsec",      "lblRedKsec",
                                          "txtRedThreshold",    "lblRedIconThreshold"};
} // namespace

class OptionsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // Rejected texts show one stop box and leave setting, interval and text.
    void updateFrequency_data() {
        const auto r = table<bool, QString, QString, int>({"german", "text", "box", "interval"});
        const char *notNumeric = "Frequency is not numeric! (Non-numeric)";
        const char *range = "Frequency must be between 1 and 60000 ms! (Invalid frequency)";
        r("300", false, "300", "", 300);
        r("60000", false, "60000", "", 60000);
        r("60001", false, "60001", range, 777);
        r("0", false, "0", range, 777);
        r("-5", false, "-5", range, 777);
        r("0.5", false, "0.5", range, 777);
        r("1", false, "1", "", 1);
        r("abc", false, "abc", notNumeric, 777);
        r("empty", false, "", notNumeric, 777);
        r("blanks", false, " 250 ", "", 250);
        r("250.5", false, "250.5", "", 250);
        r("251.5", false, "251.5", "", 252);
        r("grouped", false, "1,500", "", 1500);
        r("German 250,5", true, "250,5", "", 250);
        r("German 250.5", true, "250.5", notNumeric, 777);
    }
    void updateFrequency() {
        QFETCH(bool, german);
        QFETCH(QString, text);
        QLocale::setDefault(QLocale(german ? QLocale::German : QLocale::English));
        Rig r;
        store(QStringLiteral("UpdateFrequency"), QStringLiteral("777"));
        r.w.tmrAdapterUpdate->start(777);
        r.edit("txtFrequency")->setText(text);
        r.get<QPushButton>("cmdUpdateFrequency")->click();

        QString boxes;
        for (const auto &box : r.env.messages.shown)
            boxes += box.text + QStringLiteral(" (") + box.title +
                     (box.icon == MessageBoxes::Icon::Stop ? u')' : u'?');
        QTEST(boxes, "box");
        QTEST(r.w.tmrAdapterUpdate->interval(), "interval");
        QVERIFY(r.w.tmrAdapterUpdate->isActive());
        QCOMPARE(r.w.tmrAdapterUpdate->timerType(), Qt::PreciseTimer);
        // Stored exactly as typed; a rejected text stays for the user to correct.
        QCOMPARE(stored(QStringLiteral("UpdateFrequency")),
                 boxes.isEmpty() ? text : QStringLiteral("777"));
        QCOMPARE(r.edit("txtFrequency")->text(), text);
    }

    void checkBoxStored_data() {
        columns<QString, QString>({"box", "setting"});
        row("auto adjust", "chkAutoAdjustThreshold", "AutoAdjustThreshold");
        row("minimize to tray", "chkMinimizeToTray", "MinimizeToTray");
        row("show bandwidth", "chkShowBandwidth", "ShowBandwidthInTray");
        row("start minimized", "chkStartupMinimized", "StartupMinimized");
    }
    void checkBoxStored() {
        QFETCH(QString, box);
        QFETCH(QString, setting);
        Rig r;
        r.w.showBandwidthInTray = true;
        QCheckBox *check = r.box(qPrintable(box));
        const bool initially = check->isChecked();
        check->setChecked(!initially);
        QCOMPARE(stored(setting), initially ? QStringLiteral("0") : QStringLiteral("1"));
        check->setChecked(initially);
        QCOMPARE(stored(setting), initially ? QStringLiteral("1") : QStringLiteral("0"));
        check->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(stored(setting), QStringLiteral("2"));
        if (box == QLatin1String("chkShowBandwidth")) {
            QVERIFY(r.w.showBandwidthInTray); // greyed is not zero
            check->setChecked(false);
            QVERIFY(!r.w.showBandwidthInTray);
            check->setCheckState(Qt::PartiallyChecked);
        }
        // The user's clicks only ever give ticked or clear: a greyed box
        // ticks, and never comes back to greyed.
        QVERIFY(check->isEnabled());
        QStringList clicks;
        for (int i = 0; i < 3; ++i) {
            check->click();
            clicks << stored(setting);
        }
        QCOMPARE(clicks, QStringList({"1", "0", "1"}));
    }

    void thresholdControls_data() {
        columns<bool, int, bool>({"offered", "state", "manual"});
        row("offered, ticked", true, int(Qt::Checked), false);
        row("offered, clear", true, int(Qt::Unchecked), true);
        row("offered, greyed", true, int(Qt::PartiallyChecked), true);
        row("not offered, clear", false, int(Qt::Unchecked), false);
        row("not offered, ticked", false, int(Qt::Checked), false);
    }
    void thresholdControls() {
        QFETCH(bool, offered);
        QFETCH(int, state);
        QFETCH(bool, manual);
        Rig r;
        QCheckBox *autoAdjust = r.box("chkAutoAdjustThreshold");
        autoAdjust->setEnabled(offered);
        autoAdjust->setCheckState(Qt::CheckState(state)); // the handler updates when it changes
        // Then again with the window disabled: only the box's own flag counts.
        for (bool windowDisabled : {false, true}) {
            r.w.setEnabled(!windowDisabled);
            if (windowDisabled || state == Qt::Checked)
                r.w.updateThresholdControls();
            r.w.setEnabled(true);
            for (const char *name : kThresholdControls)
                QVERIFY2(r.enabled(name) == manual, name);
        }
    }

    void thresholdTextsStoredAsTyped() {
        Rig r;
        for (const char *name : {"txtYellowThreshold", "txtRedThreshold"}) {
            const QString setting = QLatin1String(name + 3); // without "txt"
            for (const char *text : {"12", "12.5 k", ""}) {
                r.edit(name)->setText(QLatin1String(text));
                QCOMPARE(stored(setting), QLatin1String(text)); // empty stays empty
            }
        }
    }

    void startWithSession() {
        Rig r;
        r.box("chkStartWithWin")->setChecked(true);
        r.box("chkStartWithWin")->setChecked(false);
        QCOMPARE(r.env.autostart.calls,
                 QStringList({"enable /opt/zarn/bin/zarn-bandwidth", "disable"}));
        QVERIFY(!r.env.settingsFileExists()); // not a setting
    }
};

QTEST_MAIN(OptionsTest)
#include "test_options.moc"
