#include "adapters/AdapterText.h"
#include "platform/qt/QtTrayHost.h"
#include "support/Harness.h"
#include "tray/TrayIcon.h"
#include "ui/Contrast.h"
#include "ui/Fonts.h"
#include "ui/Images.h"
#include "ui/ValueLabel.h"
#include "ui/frmMiniBandwidth.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <algorithm>

// The main and the mini window: layout, the options, the menu, minimising; the tray icon: its
// pictures, the requests that reach the host, the main window's tray options; the adapter
// texts, and the main window's adapter list over the fake interface table.
namespace {

const QString kAdapter = QStringLiteral("Adapter");
const QString kAdapterName = QStringLiteral("AdapterName");
const QString kUntouched = QStringLiteral("marker/marker");
const char *const kStandard = "127.0.0.1: lo|10.0.0.5: eth0|: wlan0 > 2 3 7";

// A link type's interface-type code and the name shown for it ("-": none).
QString typeOf(quint32 linkType, bool wireless) {
    const quint32 code = AdapterText::interfaceTypeForLinkType(linkType, wireless);
    return QString::number(code) + u' ' + AdapterText::typeName(code).value_or(QStringLiteral("-"));
}

// The main window over lo, eth0 and an interface without an IPv4 address, at
// indexes 2, 3, 7 (with rows), the adapter setting stored as given.
struct ListRig : Rig {
    explicit ListRig(bool withRows = true, const QString &storedAdapter = kAbsent) {
        if (withRows) {
            env.interfaces.add(2, QStringLiteral("lo"), 24, 0);
            env.interfaces.add(3, QStringLiteral("eth0"), 6, 100000000);
            env.interfaces.add(7, QStringLiteral("wlan0"), 71, 54000000);
            env.interfaces.addresses = {{0x7F000001u, 2}, {0x0A000005u, 3}};
        }
        store(kAdapter, storedAdapter);
    }
    QComboBox *list() { return get<QComboBox>("cmdAdapters"); }
    // Both settings of the choice, as "Adapter/AdapterName".
    QString choice() { return stored(kAdapter) + u'/' + stored(kAdapterName); }
    // The current entry, the selected index and the choice, as "1 3  3/eth0".
    QString after() {
        return QStringLiteral("%1 %2 ")
                   .arg(list()->currentIndex())
                   .arg(w.monitor->selectedAdapter) +
               choice();
    }
    // The entries, then the recorded indexes, as "a|b > 2 3".
    QString filled() {
        QStringList entries, indexes;
        for (int i = 0; i < list()->count(); ++i)
            entries << list()->itemText(i);
        for (qint32 index : w.adapterIndexes)
            indexes << QString::number(index);
        return entries.join(u'|') + QStringLiteral(" > ") + indexes.join(u' ');
    }
};

// A change the system reports, applied to the fake's tables.
void apply(FakeInterfaceSource &s, const QString &change) {
    if (change == u"add tun0 first") {
        s.add(9, QStringLiteral("tun0"), 131, 0);
        std::rotate(s.rows.begin(), s.rows.end() - 1, s.rows.end());
    } else if (change == u"eth0 renamed lan0") {
        s.find(3)->description = QStringLiteral("lan0");
        s.find(3)->name = "lan0";
    } else if (change == u"eth0 new address") {
        s.addresses = {{0x7F000001u, 2}, {0x0A000006u, 3}};
    } else if (change == u"table fails") {
        s.tableResult = TableResult::Failed;
    } else { // the link goes, and may come back under another index
        std::erase_if(s.rows, [](const InterfaceRow &r) { return r.index == 3; });
        if (change == u"eth0 anew as 11")
            s.add(11, QStringLiteral("eth0"));
    }
}

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
    // the options to the tab row, then to the adapter list; the focus starts, marked, on the tab
    // row. Tahoma where installed. A click on the maker link opens its address, which a dark
    // window shows in a lighter blue. One mini window, kept while hidden, made afresh once
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
        r.w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&r.w));
        QVERIFY(qobject_cast<QTabBar *>(QApplication::focusWidget()) &&
                r.w.testAttribute(Qt::WA_KeyboardFocusChange));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(r.get<QTabWidget>("Tabs")->currentIndex(), 1);
        const QPoint off = r.w.geometry().center() - r.w.screen()->availableGeometry().center();
        QVERIFY(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1);
        auto *tabs = r.get<QTabWidget>("Tabs");
        for (int tab : {2, 1, 0})
            tabs->setCurrentIndex(tab);
        for (const char *frame : {"Frame1", "Frame3", "frmAdapter"})
            QCOMPARE(r.get(frame)->mapTo(tabs, QPoint()), QPoint(18, 32));
        QCOMPARE(r.label("Label13")->size(), r.label("Label13")->sizeHint());
        const auto nextStop = [](QWidget *w) {
            do
                w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus);
            return w;
        };
        QWidget *next = nextStop(r.get("cmdUpdateFrequency"));
        QVERIFY(qobject_cast<QTabBar *>(next) && nextStop(next) == r.get("cmdAdapters"));
        // Of the tray's pictures, only the two samples on the options page show.
        tabs->setCurrentIndex(1);
        QVERIFY(r.label("picRedRed")->isVisible() && r.label("picYellowYellow")->isVisible());
        QVERIFY(!r.label("picRedGreen")->isVisible());
        QLabel *link = r.label("lblZarnDev");
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.zarndev.example/"))});
        QPalette dark = r.w.palette();
        dark.setColor(QPalette::Window, QColor(0x24, 0x24, 0x24));
        r.w.setPalette(dark);
        const QColor blue = link->palette().color(QPalette::Link);
        QVERIFY(Contrast::ratio(blue, dark.window().color()) >= 4.5 &&
                link->text().contains(blue.name()));
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
        r.w.monitor->tmrAdapterUpdate->start(777);
        r.edit("txtFrequency")->setText(text);
        r.get<QPushButton>("cmdUpdateFrequency")->click();
        QString boxes;
        for (const auto &box : r.env.messages.shown)
            boxes += box.text + (box.icon == MessageBoxes::Icon::Stop ? "" : "?");
        QTEST(boxes, "box");
        QTEST(r.w.monitor->tmrAdapterUpdate->interval(), "interval");
        QVERIFY(r.w.monitor->tmrAdapterUpdate->isActive());
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
        const QSet<QRgb> allowed{0, qRgb(255, 255, 255), qRgb(128, 128, 128), upFill, downFill};
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) // transparent as 0
                QVERIFY2(allowed.contains(image.pixel(x, y) * (qAlpha(image.pixel(x, y)) > 0)),
                         "blended or foreign pixel");
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

    // A value label paints exactly QLabel's pixels, framed or not, left or right, in a box that
    // fits the text or clips it, in the windows' font and the default one; "glyphs": 1 painted
    // from cached glyphs, 0 left to QLabel, -1 either (kerning in the font decides). Then the
    // text becomes "next", and repainting only the part the label says changed gives QLabel's
    // pixels of it.
    void valueLabelPixels_data() {
        const auto r = table<QString, int, QString>({"text", "glyphs", "next"});
        r("0", "0", 1, "7");
        r("1,234,567", "1,234,567", 1, "1,234,598");
        r("258.86", "258.86", 1, "251.86");
        r("-12.35", "-12.35", 1, "-19.99");
        r("2.345,67", "2.345,67", 1, "2.945,01");
        r("a digit more", "12,345", 1, "112,345");
        r("a digit less", "112,345", 1, "12,345");
        r("usage line", "Download: 258.86 k/sec", -1, "Download: 258.11 k/sec");
        r("last glyph reaching past its advance", "1 k", -1, "1 M");
        r("usage bits", "Upload: 1.2 Mbit/s", -1, "Upload: 1.2 Gbit/s");
        r("no reading", "Upload: no reading", -1, "Upload: 1.2 Mbit/s");
        r("outside the alphabet", "12 ✓ 下载", 0, "13 ✓ 下载");
        r("trailing space left to QLabel", "12 ", 0, "13 ");
        r("empty", "", 0, "1");
    }
    void valueLabelPixels() {
        const QString text = cell<QString>("text");
        for (const QFont &font : {Fonts::dialogFont(), QFont()})
            for (Qt::Alignment align :
                 {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter})
                for (QFrame::Shape frame : {QFrame::Box, QFrame::NoFrame})
                    for (int width : {155, 24}) {
                        QLabel plain;
                        ValueLabel value;
                        // A paint in another font first: what it measured of
                        // that font must not place the text in this one.
                        value.setFont(QFont(font.family(), 24));
                        value.setFrameShape(QFrame::Box);
                        value.setTextFormat(Qt::PlainText);
                        value.setText(QStringLiteral("1"));
                        if (value.paintsFromGlyphs())
                            value.grab();
                        for (QLabel *label : {&plain, static_cast<QLabel *>(&value)}) {
                            label->setFont(font);
                            label->setAlignment(align);
                            label->setFrameShape(frame);
                            label->setFixedSize(width, 17);
                            label->setMargin(width < 100 ? 3 : 0); // the clip shows in a margin
                            label->setText(text);
                            makeValueLabel(label);
                        }
                        const QString where =
                            font.family() +
                            QString::asprintf(" %d %d %d", int(align), frame, width);
                        // Asked first: it makes the font's glyphs, which a paint
                        // leaves for later.
                        if (cell<int>("glyphs") >= 0)
                            QCOMPARE(value.paintsFromGlyphs(), cell<int>("glyphs") == 1);
                        QImage shown = value.grab().toImage();
                        QVERIFY2(plain.grab().toImage() == shown, qPrintable(where));
                        const QString next = cell<QString>("next");
                        const QRect part = value.changedPart(text, next);
                        plain.setText(next);
                        value.setText(next);
                        value.render(&shown, part.topLeft(), QRegion(part));
                        QVERIFY2(plain.grab().toImage() == shown, qPrintable(where + " next"));
                    }
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
        TrayIcon icon(&host, &Images::trayIcon);
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
        QTEST(icon.trayRecord().tip.text(), "recordTip");
        if (host.shown)
            QCOMPARE(render(host.icon, 16), render(Images::trayIcon(pictures.back()), 16));
        for (size_t i = 1; i < pictures.size(); ++i)
            if (host.requests[i].kind == FakeTrayHost::Request::Update)
                QCOMPARE(host.requests[i].iconKey == host.requests[i - 1].iconKey,
                         pictures[i] == pictures[i - 1]);
    }

    // Qt's icon holds the newest tip by the time its tooltip shows: an XEmbed icon takes it
    // as the pointer rests on it, the others as it comes.
    void qtHostTip() {
        for (const TrayProtocol protocol :
             {TrayProtocol::XEmbed, TrayProtocol::StatusNotifierItem}) {
            QtTrayHost host(protocol);
            auto *icon = host.findChild<QSystemTrayIcon *>();
            host.update(QIcon(), QStringLiteral("a"));
            host.update(QIcon(), QStringLiteral("b"));
            QHelpEvent hover(QEvent::ToolTip, QPoint(), QPoint());
            QCoreApplication::sendEvent(icon, &hover);
            QCOMPARE(icon->toolTip(), QStringLiteral("b"));
        }
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

    // Each row's text is made here, compared in texts().
    void texts_data() {
        using namespace AdapterText;
        const auto r = table<QString, QString>({"got", "expected"});
        // A colour made readable: its hue, and whether it stands just far enough from the
        // background (the least change of lightness that does).
        const auto readable = [](QColor colour, QColor background, double minimum) {
            const QColor got = Contrast::readableOn(colour, background, minimum);
            const double ratio = Contrast::ratio(got, background);
            return QStringLiteral("%1 %2")
                .arg(got.hslHue() == colour.hslHue() ? "hue" : "moved")
                .arg(ratio < minimum         ? "short"
                     : ratio < minimum + 0.1 ? "just"
                                             : "far");
        };
        r("contrast, black on white", QString::number(Contrast::ratio(Qt::black, Qt::white)), "21");
        r("contrast, mid grey",
          QString::number(Contrast::ratio(QColor(0x77, 0x77, 0x77), Qt::white), 'f', 2), "4.48");
        r("blue readable on light grey: kept",
          Contrast::readableOn(Qt::blue, QColor(0xef, 0xef, 0xef), 4.5).name(), "#0000ff");
        r("blue on dark grey: lighter", readable(Qt::blue, QColor(0x24, 0x24, 0x24), 4.5),
          "hue just");
        r("orange on white: darker", readable(QColor(0xd9, 0x6c, 0x00), Qt::white, 4.5),
          "hue just");
        r("grid grey a shade off the base",
          readable(QColor(0x26, 0x26, 0x26), QColor(0x24, 0x24, 0x24), 1.6), "hue just");
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        r("999", speedText(999, us), "999 bit");
        r("1000", speedText(1000, us), "1 kbit");
        r("999999", speedText(999999, us), "999.999 kbit");
        r("1e6", speedText(1000000, us), "1 mbit");
        r("10G no grouping", speedText(10000000000, us), "10000 mbit");
        r("rounded to 15 digits", speedText(18446744073709551615u, us), "18446744073709.6 mbit");
        r("ether", typeOf(1, false), "6 Ethernet");
        r("wifi", typeOf(1, true), "71 -");
        r("wireless flag only counts for ether", typeOf(772, true), "24 Loopback");
        r("ppp", typeOf(512, false), "23 PPP");
        r("cslip", typeOf(257, false), "28 SLIP");
        r("tun/wireguard", typeOf(65534, false), "131 -");
        r("anything else", typeOf(32, false), "1 Other");
        r("spaces trimmed", entryText("10.0.0.1", "  eth0  "), "10.0.0.1: eth0");
        r("inner spaces kept", entryText("", " my link "), ": my link");
        r("only spaces are trimmed", entryText("", "\teth0"), ": \teth0");
        r("spaces before NUL", entryText("", QString::fromUtf8(" eth0 \0x", 8)), ": eth0");
        r("lowest address, table out of order",
          addressOf({{0x0AC80009u, 3}, {0x0AC80002u, 3}, {0x0AC80001u, 2}}, 3), "10.200.0.2");
    }
    void texts() { QTEST(cell<QString>("got"), "expected"); }

    // Start-up takes the stored adapter by index, or by the stored name once the index is gone
    // or names another interface. Where nothing became current, a click does nothing.
    void startUp_data() {
        const auto r = table<bool, int, QString, QString, QString>(
            {"rows", "table", "index", "name", "current selected choice"});
        const int ok = int(TableResult::Ok), failed = int(TableResult::Failed);
        r("no rows, stored kept", false, ok, " 5", kAbsent, "-1 5  5/<absent>");
        r("nothing stored: nothing current", true, ok, kAbsent, kAbsent, "-1 0 <absent>/<absent>");
        r("stored 0 not written", true, ok, "0", kAbsent, "-1 0 0/<absent>");
        r("stored first", true, ok, " 2", kAbsent, "0 2  2/lo");
        r("old settings, plain form rewritten", true, ok, "3", kAbsent, "1 3  3/eth0");
        r("stored unknown kept", true, ok, " 9", kAbsent, "-1 9  9/<absent>");
        r("not a number: none, left as is", true, ok, "abc", kAbsent, "-1 0 abc/<absent>");
        r("table read fails: rewritten all the same", true, failed, "2", kAbsent,
          "-1 2  2/<absent>");
        r("not supported: a box, not rewritten", true, int(TableResult::NotSupported), "2", kAbsent,
          "-1 2 2/<absent>");
        r("index names another: the name wins", true, ok, " 3", "wlan0", "2 7  7/wlan0");
        r("index gone: the name wins", true, ok, " 9", "eth0", "1 3  3/eth0");
        r("name not UTF-8", true, ok, " 9", "v%E9A", "3 12  12/v%E9A");
        r("index names another, name nowhere: none", true, ok, " 3", "tun0", "-1 0  3/tun0");
        r("index gone, name nowhere: the index", true, ok, " 9", "tun0", "-1 9  9/tun0");
    }
    void startUp() {
        const TableResult table = TableResult(cell<int>("table"));
        ListRig r(cell<bool>("rows"), cell<QString>("index"));
        r.env.interfaces.tableResult = table;
        store(kAdapterName, cell<QString>("name"));
        if (cell<QString>("name") == u"v%E9A")
            r.env.interfaces.add(12, QStringLiteral("v")).name = "v\xe9\x41";
        r.w.Form_Load();
        if (r.list()->currentIndex() == -1)
            r.w.cmdAdapters_Click();
        QTEST(r.after(), "current selected choice");
        QCOMPARE(r.env.messages.shown.size(), size_t(table == TableResult::NotSupported));
        if (cell<QString>("index") == kAbsent)
            QVERIFY(!QFile::exists(r.env.settingsFilePath()));
        if (r.env.interfaces.rows.size() != 4) // the odd one's entry aside
            QCOMPARE(r.filled(), table == TableResult::Ok && cell<bool>("rows")
                                     ? QString::fromLatin1(kStandard)
                                     : QStringLiteral(" > 0"));
    }

    // A reported change: the selection stays on its interface, by index or else by name; the
    // handler runs only when that interface changed, the sampler starts afresh on another link.
    // No entry becomes current by itself.
    void refresh_data() {
        // After the list: its current entry, the selected index, the choice stored, "fresh".
        const auto r = table<QString, QString, QString>({"selected", "changes", "after"});
        r("a link comes first", "eth0", "add tun0 first",
          ": tun0|127.0.0.1: lo|10.0.0.5: eth0|: wlan0 > 9 2 3 7; 2 3 marker/marker");
        r("the selected link goes", "eth0", "remove eth0",
          "127.0.0.1: lo|: wlan0 > 2 7; -1 3 marker/marker");
        r("made anew under another index", "eth0", "eth0 anew as 11",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 11; 2 11  11/eth0 fresh");
        r("gone, then back under another index", "eth0", "remove eth0;eth0 anew as 11",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 11; 2 11  11/eth0 fresh");
        r("renamed", "eth0", "eth0 renamed lan0",
          "127.0.0.1: lo|10.0.0.5: lan0|: wlan0 > 2 3 7; 1 3  3/lan0");
        r("new address", "eth0", "eth0 new address",
          "127.0.0.1: lo|10.0.0.6: eth0|: wlan0 > 2 3 7; 1 3  3/eth0");
        r("table unreadable: left as it was", "eth0", "table fails",
          QString::fromLatin1(kStandard) + "; 1 3 marker/marker");
        r("nothing selected: nothing becomes current", "", "add tun0 first;eth0 anew as 11",
          ": tun0|127.0.0.1: lo|: wlan0|: eth0 > 9 2 7 11; -1 0 marker/marker");
    }
    void refresh() {
        const QString selected = cell<QString>("selected"), changes = cell<QString>("changes");
        ListRig r;
        r.w.enumerateAdapters();
        if (!selected.isEmpty())
            r.list()->setCurrentIndex(r.list()->findText(selected, Qt::MatchEndsWith));
        r.w.monitor->trackedAdapter = -1; // 0 only if the sampler must start afresh
        store(kAdapter, QStringLiteral("marker"));
        store(kAdapterName, QStringLiteral("marker"));
        QSignalSpy handler(r.list(), &QComboBox::currentIndexChanged);
        for (const QString &change : changes.split(u';')) {
            apply(r.env.interfaces, change);
            r.env.interfaces.announce();
        }
        QTEST(r.filled() + "; " + r.after() + (r.w.monitor->trackedAdapter == 0 ? " fresh" : ""),
              "after");
        QCOMPARE(handler.count(), r.choice() == kUntouched ? 0 : 1);
    }

    // A pick: one row query, the choice stored at every click, the details as plain text in the
    // user's locale; an interface gone since the list was built shows an empty row.
    void details_data() {
        const auto r = table<QString, quint32, quint64, bool, bool, QString>(
            {"description", "type", "speed", "german", "gone", "shown"});
        r("name keeps its spaces, not markup", " <b>x</b> ", 1, 1000, false, false,
          " <b>x</b> |1 kbit|Other");
        r("T1, German", "ppp0", 23, 1544000, true, false, "ppp0|1,544 mbit|PPP");
        r("gone before it is picked", "eth0", 6, 1000, false, true, "|0 bit|Before");
    }
    void details() {
        ListRig r(false);
        r.env.interfaces.add(4, QStringLiteral("lo"), 24, 0);
        r.env.interfaces.add(5, cell<QString>("description"), cell<quint32>("type"),
                             cell<quint64>("speed"));
        r.env.interfaces.addresses = {{0x0A000009u, 5}, {0x0A000005u, 5}};
        r.w.enumerateAdapters();
        r.label("lblInfoAdapterType")->setText(QStringLiteral("Before"));
        if (cell<bool>("gone"))
            r.env.interfaces.rows.pop_back();
        const int queries = r.env.interfaces.rowQueries;
        if (cell<bool>("german"))
            QLocale::setDefault(QLocale(QLocale::German));
        r.list()->setCurrentIndex(1); // as the user picks it
        QLocale::setDefault(QLocale::c());
        QCOMPARE(r.env.interfaces.rowQueries - queries, 1);
        QTEST(r.text("lblInfoAdapterName") + u'|' + r.text("lblInfoAdapterSpeed") + u'|' +
                  r.text("lblInfoAdapterType"),
              "shown");
        QCOMPARE(r.label("lblInfoAdapterName")->textFormat(), Qt::PlainText);
        QCOMPARE(r.text("lblInfoIPAddress"), QStringLiteral("10.0.0.5")); // the lower
        store(kAdapter, QStringLiteral("junk"));
        r.w.cmdAdapters_Click(); // the same entry again
        QCOMPARE(stored(kAdapter), QStringLiteral(" 5"));
    }
};

QTEST_MAIN(WindowTest)
#include "test_window.moc"
