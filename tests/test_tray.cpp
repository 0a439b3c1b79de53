#include "support/Harness.h"
#include "tray/TrayIcon.h"
#include "ui/Images.h"

#include <QPainter>

// The tray icon: its pictures, the requests that reach the host, the main window's tray options.
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

class TrayTest : public QObject {
    Q_OBJECT
private slots:
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

QTEST_MAIN(TrayTest)
#include "test_tray.moc"
