#include "support/Harness.h"
#include "tray/TrayIcon.h"
#include "ui/Images.h"
#ifdef Q_OS_LINUX
#include "platform/linux/TrayProtocol.h"
#endif

#include <QPainter>

// The tray icon: its pictures, the requests that reach the host, and the two
// tray options of the main window.
namespace {

const QString kIdleTip = QStringLiteral("Zarn Bandwidth");
const TrayPicture kRedGreen{LoadLevel::Red, LoadLevel::Green};

QImage render(const QIcon &icon, int size, qreal ratio = 1.0) {
    return icon.pixmap(QSize(size, size), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

QRgb fillOf(LoadLevel level) {
    return level == LoadLevel::Red      ? qRgb(255, 0, 0)
           : level == LoadLevel::Yellow ? qRgb(255, 255, 0)
           : level == LoadLevel::Green  ? qRgb(0, 255, 0)
                                        : 0;
}

// The row where part of the picture is widest: the base of an arrow head.
int widestRow(const QImage &image, int fromX, int toX) {
    int best = -1, bestWidth = 0;
    for (int y = 0; y < image.height(); ++y) {
        int first = toX, last = fromX - 1;
        for (int x = fromX; x < toX; ++x)
            if (qAlpha(image.pixel(x, y)) > 0) {
                first = qMin(first, x);
                last = x;
            }
        if (last - first + 1 > bestWidth) {
            bestWidth = last - first + 1;
            best = y;
        }
    }
    return best;
}

// The window as start-up leaves it with default settings: both boxes
// ticked, both fields true, the idle icon up. The host's log starts empty.
struct TrayRig : Rig {
    TrayRig() {
        w.showTrayIcon = w.animateTrayIcon = true;
        w.trayIcon.addTrayIcon(TrayPicture::idle(), kIdleTip, &w);
        env.tray.requests.clear();
    }
};

} // namespace

class TrayTest : public QObject {
    Q_OBJECT
private slots:
    // Up and down arrows in their level's exact fill, at any size and pixel
    // ratio: transparent corners, no blended edges, heads where they point.
    void trayPictures_data() {
        const auto r = table<int, int, int, qreal>({"up", "down", "size", "ratio"});
        for (int up = 0; up < 4; ++up)
            for (int down = 0; down < 4; ++down)
                for (const auto &[size, ratio] : {std::pair{16, 1.0}, {24, 1.0}, {16, 2.0}})
                    r(qPrintable(QStringLiteral("%1@%2x%3")
                                     .arg(TrayPicture{LoadLevel(up), LoadLevel(down)}.name())
                                     .arg(size)
                                     .arg(ratio)),
                      up, down, size, ratio);
    }
    void trayPictures() {
        const LoadLevel up = LoadLevel(cell<int>("up")), down = LoadLevel(cell<int>("down"));
        const qreal ratio = cell<qreal>("ratio");
        const int n = qRound(cell<int>("size") * ratio);
        const QImage image = render(Images::trayIcon({up, down}), cell<int>("size"), ratio);
        QCOMPARE(image.size(), QSize(n, n));
        QCOMPARE(qAlpha(image.pixel(0, 0)) + qAlpha(image.pixel(n - 1, n - 1)), 0);
        const QRgb upFill = fillOf(up), downFill = fillOf(down);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const QRgb p = image.pixel(x, y);
                QVERIFY2(qAlpha(p) == 0 || p == qRgb(255, 255, 255) || p == qRgb(128, 128, 128) ||
                             p == upFill || p == downFill,
                         "blended or foreign pixel");
            }
        // The middle of each shaft shows the fill, or nothing for an empty arrow.
        QCOMPARE(image.pixel(n / 4, n * 3 / 4), upFill ? upFill : 0u);
        QCOMPARE(image.pixel(n - 1 - n / 4, n / 4), downFill ? downFill : 0u);
        QVERIFY(widestRow(image, 0, n / 2) < n / 2);
        QVERIFY(widestRow(image, n - n / 2, n) > n / 2);
    }

    // Widgets draw icons through QIcon::paint; on a high-density screen the
    // picture must be drawn at device resolution, not scaled up.
    void paintAtDeviceResolution() {
        const QIcon icon = Images::trayIcon({LoadLevel::Green, LoadLevel::Yellow});
        for (qreal ratio : {1.5, 2.0}) {
            const int n = qRound(16 * ratio);
            QImage target(n, n, QImage::Format_ARGB32_Premultiplied);
            target.setDevicePixelRatio(ratio);
            target.fill(Qt::transparent);
            {
                QPainter p(&target);
                icon.paint(&p, QRect(0, 0, 16, 16));
            }
            target.setDevicePixelRatio(1.0);
            QCOMPARE(target.convertToFormat(QImage::Format_ARGB32), render(icon, n));
        }
    }

    // The other pictures, in their own colours; the mini arrows (hollow row
    // given) are black and white, hollow in the shaft, heads where they point.
    void otherPictures_data() {
        const auto r = table<QIcon, QColor, int>({"icon", "mustShow", "hollowRow"});
        r("window", Images::windowIcon(), QColor(0, 150, 40), -1);
        r("monitor tab", Images::monitorTabIcon(), QColor(255, 0, 0), -1);
        r("options tab", Images::optionsTabIcon(), QColor(255, 210, 0), -1);
        r("adapter tab", Images::adapterTabIcon(), QColor(0, 150, 40), -1);
        r("mini up", Images::miniUpArrow(), QColor(Qt::black), 12);
        r("mini down", Images::miniDownArrow(), QColor(Qt::black), 3);
    }
    void otherPictures() {
        const int hollowRow = cell<int>("hollowRow");
        for (int size : {16, 32}) {
            const QImage image = render(cell<QIcon>("icon"), size);
            int matching = 0, opaque = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) {
                    const QRgb p = image.pixel(x, y);
                    opaque += qAlpha(p) != 0;
                    matching += qAlpha(p) && (p | 0xff000000) == cell<QColor>("mustShow").rgb();
                    if (hollowRow >= 0 && qAlpha(p))
                        QVERIFY(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));
                }
            QVERIFY(matching > 0 && opaque < size * size);
        }
        if (hollowRow < 0)
            return;
        const QImage image = render(cell<QIcon>("icon"), 16);
        QCOMPARE(qAlpha(image.pixel(7, hollowRow)) + qAlpha(image.pixel(8, hollowRow)), 0);
        QCOMPARE(widestRow(image, 0, 16) < 8, hollowRow > 8); // the up arrow's head on top
    }

    // Operations: "add:TIP" (idle picture), "modify:TIP" (red/green),
    // "delete". The host refusals (delete when not shown, modify before an
    // add, a second add) send nothing; the record follows every call.
    void requestsReachTheHost_data() {
        const auto r = table<QStringList, QString, QString, bool>(
            {"operations", "sent", "recordTip", "shownAtEnd"});
        using L = QStringList;
        r("add shows the icon", L{"add:a"}, "show:a", "a", true);
        r("delete before anything", L{"delete"}, "", "", false);
        r("modify before any add", L{"modify:b"}, "", "b", false);
        r("second add while shown", L{"add:a", "add:b"}, "show:a", "b", true);
        r("modify while shown updates", L{"add:a", "modify:b"}, "show:a update:b", "b", true);
        r("second delete", L{"add:a", "delete", "delete"}, "show:a remove", "a", false);
        r("modify after delete", L{"add:a", "delete", "modify:b"}, "show:a remove", "b", false);
        r("add after delete shows again", L{"add:a", "delete", "add:c"}, "show:a remove show:c",
          "c", true);
    }
    void requestsReachTheHost() {
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        for (const QString &op : cell<QStringList>("operations")) {
            const QString tip = op.section(u':', 1);
            if (op.startsWith(u"add:"))
                icon.addTrayIcon(TrayPicture::idle(), tip, &owner);
            else if (op.startsWith(u"modify:"))
                icon.modifyTrayIcon(kRedGreen, tip, &owner);
            else
                icon.deleteTrayIcon();
        }
        QTEST(requestLog(host), "sent");
        QTEST(host.shown, "shownAtEnd");
        QTEST(icon.trayRecord().tip, "recordTip");
    }

    // The tip goes whole, past the other platform's 63 characters, with the
    // picture asked for. A tip-only change hands the host the very icon it
    // already shows, so a tray host can skip the repaint.
    void tipAndPictureReachTheHost() {
        const QString tip = QString(64, u'y') + QStringLiteral("\n– Ünïcödé ✓ 下载");
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        icon.addTrayIcon(TrayPicture::idle(), tip, &owner);
        QCOMPARE(host.tip, tip);
        icon.modifyTrayIcon(kRedGreen, QStringLiteral("b"), &owner);
        QCOMPARE(render(host.icon, 16), render(Images::trayIcon(kRedGreen), 16));
        icon.modifyTrayIcon(kRedGreen, QStringLiteral("c"), &owner);
        icon.modifyTrayIcon(TrayPicture::idle(), QStringLiteral("d"), &owner);
        const auto &r = host.requests;
        QCOMPARE(r[2].iconKey, r[1].iconKey);
        QVERIFY(r[1].iconKey != r[0].iconKey && r[3].iconKey != r[2].iconKey);
        QCOMPARE(render(host.icon, 16), render(Images::trayIcon(TrayPicture::idle()), 16));
        TrayIcon noHost(nullptr); // never crashes
        noHost.modifyTrayIcon(kRedGreen, tip, &owner);
        noHost.deleteTrayIcon();
    }

#ifdef Q_OS_LINUX
    void protocolFollowsTheDesktop() {
        QVERIFY(trayProtocolFor(QStringLiteral("xcb"), false) == TrayProtocol::XEmbed);
        QVERIFY(trayProtocolFor(QStringLiteral("xcb"), true) != TrayProtocol::XEmbed);
        QVERIFY(trayProtocolFor(QStringLiteral("wayland"), false) != TrayProtocol::XEmbed);
    }
#endif

    // Steps: "show-"/"show+" clear or tick "Show Tray Icon", "anim-"/"anim+"
    // the animate box, "load" puts a busy picture up first.
    void optionsDriveIconAndSettings_data() {
        const auto r = table<QStringList, QString, QString, QString>(
            {"steps", "sent", "showSetting", "animateSetting"});
        using L = QStringList;
        r("clearing show removes the icon", L{"show-"}, "remove", "0", kAbsent);
        r("clearing animate over a load picture", L{"load", "anim-"},
          "update:busy update:Zarn Bandwidth", kAbsent, "0");
        r("ticking animate again sends nothing", L{"anim-", "anim+"}, "update:Zarn Bandwidth",
          kAbsent, "1");
        r("animate off while no icon is refused", L{"show-", "anim-"}, "remove", "0", "0");
        r("show back on after animate off: idle icon", L{"anim-", "show-", "show+"},
          "update:Zarn Bandwidth remove show:Zarn Bandwidth", "1", "0");
    }
    void optionsDriveIconAndSettings() {
        TrayRig r;
        for (const QString &step : cell<QStringList>("steps")) {
            if (step == u"load")
                r.w.trayIcon.modifyTrayIcon({LoadLevel::Red, LoadLevel::Red}, "busy", &r.w);
            else
                r.box(step.startsWith(u"show") ? "chkShowTrayIcon" : "chkAnimateTrayIcon")
                    ->setChecked(step.endsWith(u'+'));
        }
        QTEST(requestLog(r.env.tray), "sent");
        QTEST(stored(QStringLiteral("ShowTrayIcon")), "showSetting");
        QTEST(stored(QStringLiteral("AnimateTrayIcon")), "animateSetting");
    }

    // Every sequence of up to five user clicks on the two boxes (only the
    // enabled ones can be clicked) must leave the window in the row of the
    // state table that the two boxes name.
    void optionStatesForEveryClickSequence() {
        const auto bits = [](std::initializer_list<bool> values) {
            QString out;
            for (bool b : values)
                out += b ? u'1' : u'0';
            return out;
        };
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
                    path += onShow ? u'S' : u'A';
                    const bool show = r.box("chkShowTrayIcon")->isChecked();
                    const bool animate = r.box("chkAnimateTrayIcon")->isChecked();
                    const bool idle = r.env.tray.tip == kIdleTip &&
                                      r.w.trayIcon.trayRecord().picture == TrayPicture::idle();
                    // The fields, the icon, which boxes the user can reach, and
                    // the idle picture whenever the icon does not animate.
                    const QString got =
                        bits({r.w.showTrayIcon, r.w.animateTrayIcon, r.env.tray.shown,
                              r.enabled("chkAnimateTrayIcon"), r.enabled("chkMinimizeToTray"),
                              r.enabled("chkShowBandwidth"), r.enabled("chkAutoAdjustThreshold"),
                              show && !animate ? idle : true});
                    // "Automatically adjust threshold" follows the animate box alone.
                    const QString want =
                        bits({show, animate, show, show, show, show && animate, animate, true});
                    QVERIFY2(got == want, qPrintable(path + u' ' + got));
                }
            }
    }
};

QTEST_MAIN(TrayTest)
#include "test_tray.moc"
