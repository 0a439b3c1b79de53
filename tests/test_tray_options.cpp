#include "settings/Registry.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QCheckBox>
#include <QtTest>

namespace {

const QString kIdleTip = QStringLiteral("Zarn Bandwidth");

QString requestLog(const FakeTrayHost &host) {
    QStringList out;
    for (const auto &r : host.requests) {
        switch (r.kind) {
        case FakeTrayHost::Request::Show:
            out << QStringLiteral("show:") + r.tip;
            break;
        case FakeTrayHost::Request::Update:
            out << QStringLiteral("update:") + r.tip;
            break;
        case FakeTrayHost::Request::Remove:
            out << QStringLiteral("remove");
            break;
        }
    }
    return out.join(QLatin1Char(' '));
}

// The window as start-up leaves it with default settings: both boxes
// ticked, both fields true, the idle icon up. The host's log starts empty.
void bringToRunningState(frmMain &w, FakeTrayHost &tray) {
    w.showTrayIcon = true;
    w.animateTrayIcon = true;
    w.trayIcon.addTrayIcon(TrayPicture::idle(), kIdleTip, &w);
    tray.requests.clear();
}

// A user can click a box only while it is enabled.
bool userClick(QCheckBox *box) {
    if (!box->isEnabled())
        return false;
    box->setChecked(!box->isChecked());
    return true;
}

QCheckBox *box(frmMain &w, const char *name) {
    auto *b = w.findChild<QCheckBox *>(QString::fromLatin1(name));
    Q_ASSERT(b);
    return b;
}

QString stored(const char *name) {
    return Registry::readSetting(QString::fromLatin1(name), QStringLiteral("<none>"));
}

} // namespace

class TrayOptionsTest : public QObject {
    Q_OBJECT
private slots:
    // Steps: "show-"/"show+" clear or tick "Show Tray Icon", "anim-"/"anim+"
    // the animate box (set by code, so also while it is disabled), "load"
    // makes the tick put a busy picture up first.
    void handlersDriveIconAndSettings_data() {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("showSetting");
        QTest::addColumn<QString>("animateSetting");
        QTest::addColumn<bool>("shownAtEnd");

        QTest::newRow("clearing show removes the icon") << QStringList{"show-"} << "remove"
                                                        << "0"
                                                        << "<none>" << false;
        QTest::newRow("ticking show again adds the idle icon")
            << QStringList{"show-", "show+"} << "remove show:Zarn Bandwidth"
            << "1"
            << "<none>" << true;
        QTest::newRow("clearing animate resets to idle")
            << QStringList{"anim-"} << "update:Zarn Bandwidth"
            << "<none>"
            << "0" << true;
        QTest::newRow("clearing animate over a load picture")
            << QStringList{"load", "anim-"} << "update:up 12.00 down 3.00 update:Zarn Bandwidth"
            << "<none>"
            << "0" << true;
        QTest::newRow("ticking animate again sends nothing")
            << QStringList{"anim-", "anim+"} << "update:Zarn Bandwidth"
            << "<none>"
            << "1" << true;
        QTest::newRow("animate off while no icon is refused")
            << QStringList{"show-", "anim-"} << "remove"
            << "0"
            << "0" << false;
        QTest::newRow("show back on after animate off: idle icon")
            << QStringList{"anim-", "show-", "show+"}
            << "update:Zarn Bandwidth remove show:Zarn Bandwidth"
            << "1"
            << "0" << true;
    }
    void handlersDriveIconAndSettings() {
        QFETCH(QStringList, steps);
        QFETCH(QString, sent);
        QFETCH(QString, showSetting);
        QFETCH(QString, animateSetting);
        QFETCH(bool, shownAtEnd);

        TestPlatform env;
        frmMain w(env.platform());
        bringToRunningState(w, env.tray);
        for (const QString &step : steps) {
            if (step == QLatin1String("load"))
                w.trayIcon.modifyTrayIcon({LoadLevel::Red, LoadLevel::Red},
                                          QStringLiteral("up 12.00 down 3.00"), &w);
            else if (step.startsWith(QLatin1String("show")))
                box(w, "chkShowTrayIcon")->setChecked(step.endsWith(QLatin1Char('+')));
            else
                box(w, "chkAnimateTrayIcon")->setChecked(step.endsWith(QLatin1Char('+')));
        }
        QCOMPARE(requestLog(env.tray), sent);
        QCOMPARE(stored("ShowTrayIcon"), showSetting);
        QCOMPARE(stored("AnimateTrayIcon"), animateSetting);
        QCOMPARE(env.tray.shown, shownAtEnd);
        QCOMPARE(w.showTrayIcon, box(w, "chkShowTrayIcon")->isChecked());
        QCOMPARE(w.animateTrayIcon, box(w, "chkAnimateTrayIcon")->isChecked());
        if (shownAtEnd && !w.animateTrayIcon) {
            QCOMPARE(env.tray.tip, kIdleTip);
            QCOMPARE(w.trayIcon.trayRecord().picture, std::optional(TrayPicture::idle()));
        }
    }

    // Every sequence of up to five user clicks on the two boxes (only the
    // enabled ones can be clicked) must leave the window in the row of the
    // state table that the two boxes name.
    void stateTableHoldsForEveryClickSequence_data() {
        QTest::addColumn<int>("length");
        for (int n = 1; n <= 5; ++n)
            QTest::addRow("%d clicks", n) << n;
    }
    void stateTableHoldsForEveryClickSequence() {
        QFETCH(int, length);
        for (int pattern = 0; pattern < (1 << length); ++pattern) {
            TestPlatform env;
            frmMain w(env.platform());
            bringToRunningState(w, env.tray);
            QString path;
            for (int i = 0; i < length; ++i) {
                const bool onShow = (pattern >> i) & 1;
                QCheckBox *clicked =
                    onShow ? box(w, "chkShowTrayIcon") : box(w, "chkAnimateTrayIcon");
                if (!userClick(clicked))
                    continue;
                path += onShow ? QStringLiteral("S") : QStringLiteral("A");
                const QByteArray where = path.toLatin1();
                checkStateTable(w, env.tray, where.constData());
                if (QTest::currentTestFailed())
                    return;
            }
        }
    }

private:
    static void checkStateTable(frmMain &w, const FakeTrayHost &tray, const char *path) {
        const bool show = box(w, "chkShowTrayIcon")->isChecked();
        const bool animate = box(w, "chkAnimateTrayIcon")->isChecked();
        const auto enabled = [](QCheckBox *b) { return b->isEnabled(); };
        QVERIFY2(w.showTrayIcon == show && w.animateTrayIcon == animate, path);
        QVERIFY2(tray.shown == show, path);
        QVERIFY2(enabled(box(w, "chkAnimateTrayIcon")) == show, path);
        QVERIFY2(enabled(box(w, "chkMinimizeToTray")) == show, path);
        QVERIFY2(enabled(box(w, "chkShowBandwidth")) == (show && animate), path);
        // "Automatically adjust threshold" follows the animate box alone.
        QVERIFY2(enabled(box(w, "chkAutoAdjustThreshold")) == animate, path);
        if (show && !animate) {
            QVERIFY2(tray.tip == kIdleTip, path);
            QVERIFY2(w.trayIcon.trayRecord().picture == std::optional(TrayPicture::idle()), path);
        }
    }
};

QTEST_MAIN(TrayOptionsTest)
#include "test_tray_options.moc"
