#include "support/Harness.h"
#include "tray/TrayIcon.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/frmMiniBandwidth.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

// The main and the mini window: layout, the options, the menu, minimising; the tray icon: its
// pictures, the requests that reach the host, the main window's tray options.
namespace {

const QString kIdleTip = QStringLiteral("Zarn Bandwidth");
const QString kLongTip = QString(64, u'y') + QStringLiteral("\n– Ünïcödé ✓ 下载");
const TrayPicture kRedGreen{LoadLevel::Red, LoadLevel::Green};

QImage render(const QIcon &icon, int size, qreal ratio = 1.0) {
    return icon.pixmap(QSize(size, size), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The row where part of the picture is widest: the base of an arrow head.
int widestRow(const QImage &image, int fromX, int toX) {
    int best = -1, bestWidth = 0;
    for (int y = 0; y < image.height(); ++y) {
        int first = toX, last = fromX - 1;
        for (int x = fromX; x < toX; ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                first = qMin(first, x), last = x;
        if (last - first + 1 > bestWidth)
            bestWidth = last - first + 1, best = y;
    }
    return best;
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    // The window in the middle of the screen; the tab pages' controls stay where they were
    // put, whatever the tab row's height; auto-sized labels show all their text; Tab goes from
    // the options to the tab row, then to the adapter list. Tahoma where installed. A click on
    // the maker link opens its address. One mini window, kept while hidden, made afresh once
    // closed; the menu goes to the host with "Show Main" as its default; Exit unloads even from
    // the tray.
    void layoutLinkAndMenu() {
        const bool tahoma = Fonts::ensureTahoma(); // Debian: fonts-wine
        Rig r;
        QList<QUrl> opened;
        r.w.openUrl = [&opened](const QUrl &url) { return (opened << url, true); };
        if (tahoma)
            QCOMPARE(QFontInfo(r.label("lblSentBytes")->font()).family(), QStringLiteral("Tahoma"));
        QVERIFY(QFontInfo(r.label("lblZarnDev")->font()).bold());
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        const QPoint off = r.w.geometry().center() - r.w.screen()->availableGeometry().center();
        QVERIFY(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1);
        auto *tabs = r.get<QTabWidget>("Tabs");
        for (int tab : {2, 1, 0})
            tabs->setCurrentIndex(tab);
        for (const char *frame : {"Frame1", "Frame3", "frmAdapter"})
            QCOMPARE(r.get(frame)->mapTo(tabs, QPoint()), QPoint(18, 32));
        QCOMPARE(r.label("Label13")->size(), r.label("Label13")->sizeHint());
        QWidget *next = r.get("cmdUpdateFrequency")->nextInFocusChain();
        QVERIFY(qobject_cast<QTabBar *>(next) && next->nextInFocusChain() == r.get("cmdAdapters"));
        // Of the tray's pictures, only the two samples on the options page show.
        tabs->setCurrentIndex(1);
        QVERIFY(r.label("picRedRed")->isVisible() && r.label("picYellowYellow")->isVisible());
        QVERIFY(!r.label("picRedGreen")->isVisible());
        QLabel *link = r.label("lblZarnDev");
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zarndev.example/"))});
        QCOMPARE(r.env.tray.menu, r.get<QMenu>("mPopup"));
        QCOMPARE(r.w.mPopup->defaultAction(), r.w.mShowDialog);
        r.w.mShowMini->trigger();
        frmMiniBandwidth *first = r.w.miniWindow(false);
        first->hide();
        r.w.mShowMini->trigger();
        QVERIFY(r.w.miniWindow(false) == first && first->isVisible());
        first->close();
        QTRY_COMPARE(r.w.miniWindow(false), nullptr);
        r.w.mShowMini->trigger();
        QVERIFY(r.w.miniWindow(false)->isVisible());
        r.w.hide();
        r.w.mExit->trigger();
        QVERIFY(r.w.unloaded && !r.w.isVisible());
    }

    // Stored as typed; a rejected text shows one stop box, leaves setting and interval, and
    // stays for the user to correct.
    void updateFrequency_data() {
        const auto r = table<bool, QString, QString, int>({"german", "text", "box", "interval"});
        r("accepted, half to even", false, "251.5", "", 252);
        r("upper limit", false, "60000", "", 60000);
        r("German decimal", true, "250,5", "", 250);
        r("out of range", false, "0", "Frequency must be between 1 and 60000 ms!", 777);
        r("English decimal in German", true, "250.5", "Frequency is not numeric!", 777);
    }
    void updateFrequency() {
        const QString text = cell<QString>("text");
        QLocale::setDefault(QLocale(cell<bool>("german") ? QLocale::German : QLocale::English));
        Rig r;
        store(QStringLiteral("UpdateFrequency"), QStringLiteral("777"));
        r.w.tmrAdapterUpdate->start(777);
        r.edit("txtFrequency")->setText(text);
        r.get<QPushButton>("cmdUpdateFrequency")->click();
        QString boxes;
        for (const auto &box : r.env.messages.shown)
            boxes += box.text + (box.icon == MessageBoxes::Icon::Stop ? "" : "?");
        QTEST(boxes, "box");
        QTEST(r.w.tmrAdapterUpdate->interval(), "interval");
        QVERIFY(r.w.tmrAdapterUpdate->isActive());
        QCOMPARE(stored(QStringLiteral("UpdateFrequency")), boxes.isEmpty() ? text : "777");
        QCOMPARE(r.edit("txtFrequency")->text(), text);
    }

    // Thresholds are stored as typed; each box its state, greyed as 2, clicks give 1 or 0. The
    // thresholds are editable ("+") only while "Automatically adjust" is offered and clear (or
    // greyed), whatever the window's state; the last two steps: window off, box not offered.
    void optionsStored_data() {
        const auto r = table<QString, QString, QString>({"control", "setting", "stored"});
        r("auto adjust", "chkAutoAdjustThreshold", "AutoAdjustThreshold", "2+ 0+ 2+ 1 0+ 0+ 0");
        r("minimize to tray", "chkMinimizeToTray", "MinimizeToTray", "2 0 2 1 0 0 0");
        r("show bandwidth", "chkShowBandwidth", "ShowBandwidthInTray", "2 0 2 1 0 0 0");
        r("start minimized", "chkStartupMinimized", "StartupMinimized", "2 0 2 1 0 0 0");
        r("yellow threshold, as typed", "txtYellowThreshold", "YellowThreshold", "12.5 k|");
    }
    void optionsStored() {
        const QString setting = cell<QString>("setting");
        Rig r;
        QStringList got;
        if (auto *edit = r.w.findChild<QLineEdit *>(cell<QString>("control"))) {
            for (const char *text : {"12.5 k", ""}) { // empty stays empty
                edit->setText(QLatin1String(text));
                got << stored(setting);
            }
            QTEST(got.join(u'|'), "stored");
            return;
        }
        r.w.updateThresholdControls(); // the thresholds as start-up leaves them
        QCheckBox *check = r.box(qPrintable(cell<QString>("control")));
        check->setEnabled(true);
        const auto note = [&] {
            got << stored(setting) + (r.enabled("txtRedThreshold") ? "+" : "");
        };
        for (Qt::CheckState s : {Qt::PartiallyChecked, Qt::Unchecked, Qt::PartiallyChecked}) {
            check->setCheckState(s);
            note();
        }
        const bool greyedCounts = r.w.showBandwidthInTray;
        for (int i = 0; i < 2; ++i) {
            check->click();
            note();
        }
        r.w.setEnabled(false);
        r.w.updateThresholdControls();
        r.w.setEnabled(true);
        note();
        check->setEnabled(false);
        r.w.updateThresholdControls();
        note();
        QTEST(got.join(u' '), "stored");
        if (setting == u"ShowBandwidthInTray")
            QVERIFY(greyedCounts && !r.w.showBandwidthInTray);
    }

    // Steps as named in minimiseAndBringBack(): "click" to "mid" on the tray icon, "sni" a host
    // that reports no double-click. After each: where the window is, and the marker if set.
    void minimiseAndBringBack_data() {
        const auto r =
            table<bool, bool, QString, QString>({"trayIcon", "toTray", "steps", "after"});
        r("tray icon off: stays on the taskbar", false, true, "min", "taskbar");
        r("option off: stays on the taskbar", true, false, "min", "taskbar");
        r("back from the tray, then to the tray again", true, true, "min main min",
          "hidden normal hidden");
        r("hidden by start-up, back, to the tray", true, true, "hide dbl min",
          "hidden normal hidden");
        r("marker outlives Show Main on a normal window", true, true, "main min restore min",
          "normal/BringUp taskbar normal hidden");
        r("a tray that comes later takes the window", true, true, "gone min restore back min",
          "normal taskbar normal normal hidden");
        r("a host with double-clicks: only they bring it back", true, true, "min click ctx mid dbl",
          "hidden hidden hidden hidden normal");
        r("a host without: a click brings it back", true, true, "sni min ctx mid click",
          "normal hidden hidden hidden normal");
    }
    void minimiseAndBringBack() {
        Rig r;
        const QStringList clicks = {"click", "dbl", "ctx", "mid"}; // in TrayActivation's order
        const QHash<QString, std::function<void()>> act = {
            {"min", [&] { r.w.setWindowState(r.w.windowState() | Qt::WindowMinimized); }},
            {"restore", [&] { r.w.setWindowState(r.w.windowState() & ~Qt::WindowMinimized); }},
            {"main", [&] { r.w.mShowDialog->trigger(); }},
            {"sni", [&] { r.env.tray.doubleClicks = false; }},
            {"hide", [&] { r.w.hide(); }},
            {"gone", [&] { r.env.tray.available = false; }},
            {"back", [&] { r.env.tray.available = true; }},
        };
        r.w.showTrayIcon = cell<bool>("trayIcon");
        r.box("chkMinimizeToTray")->setChecked(cell<bool>("toTray"));
        r.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&r.w));
        QStringList got;
        for (const QString &step : cell<QString>("steps").split(u' ')) {
            if (act.contains(step))
                act[step]();
            else
                r.env.tray.activate(TrayActivation(clicks.indexOf(step)));
            got << QLatin1String(!r.w.isVisible()    ? "hidden"
                                 : r.w.isMinimized() ? "taskbar"
                                                     : "normal") +
                       (r.w.Tag.isEmpty() ? QString() : u'/' + r.w.Tag);
        }
        QTEST(got.join(u' '), "after");
    }

    // Up and down arrows in their level's exact fill, at any size and pixel ratio: transparent
    // corners, no blended edges, heads where they point. Widgets draw icons through
    // QIcon::paint; on a high-density screen that too must draw at device resolution.
    void trayPictures_data() {
        const auto r = table<int, int, int, qreal>({"up", "down", "size", "ratio"});
        for (int up = 0; up < 4; ++up)
            for (int down = 0; down < 4; ++down)
                for (const auto &[size, ratio] :
                     {std::pair{16, 1.0}, {24, 1.0}, {16, 1.5}, {16, 2.0}})
                    r(qPrintable((TrayPicture{LoadLevel(up), LoadLevel(down)}.name() +
                                  QString::asprintf("@%dx%g", size, ratio))),
                      up, down, size, ratio);
    }
    void trayPictures() {
        const LoadLevel up = LoadLevel(cell<int>("up")), down = LoadLevel(cell<int>("down"));
        const qreal ratio = cell<qreal>("ratio");
        const int n = qRound(cell<int>("size") * ratio);
        const QImage image = render(Images::trayIcon({up, down}), cell<int>("size"), ratio);
        QCOMPARE(image.size(), QSize(n, n));
        QCOMPARE(qAlpha(image.pixel(0, 0)) + qAlpha(image.pixel(n - 1, n - 1)), 0);
        const QRgb fills[] = {qRgb(255, 0, 0), qRgb(255, 255, 0), qRgb(0, 255, 0), 0};
        const QRgb upFill = fills[int(up)], downFill = fills[int(down)];
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
        QImage painted(n, n, QImage::Format_ARGB32_Premultiplied);
        painted.setDevicePixelRatio(ratio);
        painted.fill(Qt::transparent);
        QPainter p(&painted);
        Images::trayIcon({up, down}).paint(&p, QRect(0, 0, cell<int>("size"), cell<int>("size")));
        p.end();
        QCOMPARE(painted.convertToFormat(QImage::Format_ARGB32), image);
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
        const QImage image = render(cell<QIcon>("icon"), 16);
        int matching = 0, opaque = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QRgb p = image.pixel(x, y);
                opaque += qAlpha(p) != 0;
                matching += qAlpha(p) && (p | 0xff000000) == cell<QColor>("mustShow").rgb();
                if (hollowRow >= 0 && qAlpha(p))
                    QVERIFY(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));
            }
        QVERIFY(matching > 0 && opaque < 16 * 16);
        if (hollowRow < 0)
            return;
        QCOMPARE(qAlpha(image.pixel(7, hollowRow)) + qAlpha(image.pixel(8, hollowRow)), 0);
        QCOMPARE(widestRow(image, 0, 16) < 8, hollowRow > 8); // the up arrow's head on top
    }

    // Operations: "add:TIP" (idle), "busy:TIP"/"idle:TIP" (modify), "delete". The host refusals
    // (delete when not shown, modify before an add, a second add) send nothing; the record
    // follows every call. The tip goes whole, past the other platform's 63 characters. Each
    // picture keeps one icon: a host handed the icon it already shows can skip the repaint.
    void requestsReachTheHost_data() {
        const auto r = table<QStringList, QString, QString, bool>(
            {"operations", "sent", "recordTip", "shownAtEnd"});
        using L = QStringList;
        r("add shows the icon", L{"add:" + kLongTip}, "show:" + kLongTip, kLongTip, true);
        r("delete before anything", L{"delete"}, "", "", false);
        r("modify before any add", L{"busy:b"}, "", "b", false);
        r("second add while shown", L{"add:a", "add:b"}, "show:a", "b", true);
        r("modify while shown updates", L{"add:a", "busy:b", "busy:c", "idle:d"},
          "show:a update:b update:c update:d", "d", true);
        r("second delete", L{"add:a", "delete", "delete"}, "show:a remove", "a", false);
        r("modify after delete", L{"add:a", "delete", "busy:b"}, "show:a remove", "b", false);
        r("add after delete shows again", L{"add:a", "delete", "add:c"}, "show:a remove show:c",
          "c", true);
    }
    void requestsReachTheHost() {
        FakeTrayHost host;
        TrayIcon icon(&host);
        std::vector<TrayPicture> pictures; // of each request sent
        for (const QString &op : cell<QStringList>("operations")) {
            const QString tip = op.section(u':', 1);
            const TrayPicture picture = op.startsWith(u"busy") ? kRedGreen : TrayPicture::idle();
            if (op.startsWith(u"add:"))
                icon.addTrayIcon(picture, tip, nullptr);
            else if (op == u"delete")
                icon.deleteTrayIcon();
            else
                icon.modifyTrayIcon(picture, tip, nullptr);
            pictures.resize(host.requests.size(), picture);
        }
        QTEST(requestLog(host), "sent");
        QTEST(host.shown, "shownAtEnd");
        QTEST(icon.trayRecord().tip, "recordTip");
        if (host.shown)
            QCOMPARE(render(host.icon, 16), render(Images::trayIcon(pictures.back()), 16));
        for (size_t i = 1; i < pictures.size(); ++i)
            if (host.requests[i].kind == FakeTrayHost::Request::Update)
                QCOMPARE(host.requests[i].iconKey == host.requests[i - 1].iconKey,
                         pictures[i] == pictures[i - 1]);
    }

    // Every sequence of up to five clicks on the two enabled boxes, from a busy picture. After
    // each: fields, icon and reachable boxes as the boxes say ("Automatically adjust" follows
    // animate alone), settings as clicked, idle unless animated, one request but for animate on.
    void optionStatesForEveryClickSequence() {
        for (int length = 1; length <= 5; ++length)
            for (int pattern = 0; pattern < (1 << length); ++pattern) {
                Rig r; // as start-up leaves it by default: both boxes ticked, the icon up
                r.w.showTrayIcon = r.w.animateTrayIcon = true;
                r.w.trayIcon.addTrayIcon(TrayPicture::idle(), kIdleTip, &r.w);
                r.w.trayIcon.modifyTrayIcon(kRedGreen, QStringLiteral("busy"), &r.w);
                QString path, settings[2] = {kAbsent, kAbsent}; // animate, show
                for (int i = 0; i < length; ++i) {
                    const bool onShow = (pattern >> i) & 1;
                    QCheckBox *clicked = r.box(onShow ? "chkShowTrayIcon" : "chkAnimateTrayIcon");
                    if (!clicked->isEnabled())
                        continue;
                    const size_t before = r.env.tray.requests.size();
                    clicked->setChecked(!clicked->isChecked());
                    path += onShow ? u'S' : u'A';
                    settings[onShow] = QLatin1String(clicked->isChecked() ? "1" : "0");
                    const bool show = r.box("chkShowTrayIcon")->isChecked();
                    const bool animate = r.box("chkAnimateTrayIcon")->isChecked();
                    const bool idle = r.env.tray.tip == kIdleTip &&
                                      r.w.trayIcon.trayRecord().picture == TrayPicture::idle();
                    const QList<bool> got(
                        {r.w.showTrayIcon, r.w.animateTrayIcon, r.env.tray.shown,
                         r.enabled("chkAnimateTrayIcon"), r.enabled("chkMinimizeToTray"),
                         r.enabled("chkShowBandwidth"), r.enabled("chkAutoAdjustThreshold"),
                         show && !animate ? idle : true,
                         stored(QStringLiteral("AnimateTrayIcon")) == settings[0] &&
                             stored(QStringLiteral("ShowTrayIcon")) == settings[1],
                         r.env.tray.requests.size() - before == size_t(onShow || !animate)});
                    const QList<bool> want({show, animate, show, show, show, show && animate,
                                            animate, true, true, true});
                    QVERIFY2(got == want, qPrintable(path));
                }
            }
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
