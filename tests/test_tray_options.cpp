#include "support/Harness.h"

namespace {

const QString kIdleTip = QStringLiteral("Zarn Bandwidth");

// The window as start-up leaves it with default settings: both boxes
// ticked, both fields true, the idle icon up. The host's log starts empty.
struct TrayRig : Rig {
    TrayRig() {
        w.showTrayIcon = w.animateTrayIcon = true;
        w.trayIcon.addTrayIcon(TrayPicture::idle(), kIdleTip, &w);
        env.tray.requests.clear();
    }
    bool idleShown() {
        return env.tray.tip == kIdleTip && w.trayIcon.trayRecord().picture == TrayPicture::idle();
    }
};

QString bits(std::initializer_list<bool> values) {
    QString out;
    for (bool b : values)
        out += b ? u'1' : u'0';
    return out;
}

} // namespace

class TrayOptionsTest : public QObject {
    Q_OBJECT
private slots:
    // Steps: "show-"/"show+" clear or tick "Show Tray Icon", "anim-"/"anim+"
    // the animate box (set by code, so also while it is disabled), "load"
    // makes the tick put a busy picture up first.
    void handlersDriveIconAndSettings_data() {
        columns<QStringList, QString, QString, QString>(
            {"steps", "sent", "showSetting", "animateSetting"});
        row("clearing show removes the icon", QStringList{"show-"}, "remove", "0", kAbsent);
        row("ticking show again adds the idle icon", QStringList{"show-", "show+"},
            "remove show:Zarn Bandwidth", "1", kAbsent);
        row("clearing animate resets to idle", QStringList{"anim-"}, "update:Zarn Bandwidth",
            kAbsent, "0");
        row("clearing animate over a load picture", QStringList{"load", "anim-"},
            "update:up 12.00 down 3.00 update:Zarn Bandwidth", kAbsent, "0");
        row("ticking animate again sends nothing", QStringList{"anim-", "anim+"},
            "update:Zarn Bandwidth", kAbsent, "1");
        row("animate off while no icon is refused", QStringList{"show-", "anim-"}, "remove", "0",
            "0");
        row("show back on after animate off: idle icon", QStringList{"anim-", "show-", "show+"},
            "update:Zarn Bandwidth remove show:Zarn Bandwidth", "1", "0");
    }
    void handlersDriveIconAndSettings() {
        QFETCH(QStringList, steps);
        TrayRig r;
        for (const QString &step : steps) {
            if (step == QLatin1String("load"))
                r.w.trayIcon.modifyTrayIcon({LoadLevel::Red, LoadLevel::Red},
                                            QStringLiteral("up 12.00 down 3.00"), &r.w);
            else
                r.box(step.startsWith(QLatin1String("show")) ? "chkShowTrayIcon"
                                                             : "chkAnimateTrayIcon")
                    ->setChecked(step.endsWith(QLatin1Char('+')));
        }
        QTEST(requestLog(r.env.tray), "sent");
        QTEST(stored(QStringLiteral("ShowTrayIcon")), "showSetting");
        QTEST(stored(QStringLiteral("AnimateTrayIcon")), "animateSetting");
    }

    // Every sequence of up to five user clicks on the two boxes (only the
    // enabled ones can be clicked) must leave the window in the row of the
    // state table that the two boxes name.
    void stateTableHoldsForEveryClickSequence() {
        for (int length = 1; length <= 5; ++length)
            for (int pattern = 0; pattern < (1 << length); ++pattern) {
                TrayRig r;
                QString path;
                for (int i = 0; i < length; ++i) {
                    const bool onShow = (pattern >> i) & 1;
                    QCheckBox *clicked = r.box(onShow ? "chkShowTrayIcon" : "chkAnimateTrayIcon");
                    if (!clicked->isEnabled())
                        continue;
                    clicked->setChecked(!clicked->isChecked());
                    path += onShow ? QLatin1Char('S') : QLatin1Char('A');
                    const bool show = r.box("chkShowTrayIcon")->isChecked();
                    const bool animate = r.box("chkAnimateTrayIcon")->isChecked();
                    // The fields, the icon, which boxes the user can reach, and
                    // the idle picture whenever the icon does not animate.
                    const QString got =
                        bits({r.w.showTrayIcon, r.w.animateTrayIcon, r.env.tray.shown,
                              r.enabled("chkAnimateTrayIcon"), r.enabled("chkMinimizeToTray"),
                              r.enabled("chkShowBandwidth"), r.enabled("chkAutoAdjustThreshold"),
                              show && !animate ? r.idleShown() : true});
                    // "Automatically adjust threshold" follows the animate box alone.
                    const QString want =
                        bits({show, animate, show, show, show, show && animate, animate, true});
                    QVERIFY2(got == want, qPrintable(path + QLatin1Char(' ') + got));
                }
            }
    }
};

QTEST_MAIN(TrayOptionsTest)
#include "test_tray_options.moc"
