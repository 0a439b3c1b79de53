#include "support/Harness.h"
#include "tray/TrayIcon.h"
#include "ui/Images.h"
#ifdef Q_OS_LINUX
#include "platform/linux/TrayProtocol.h"
#endif

namespace {

QImage pictureOf(const QIcon &icon) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

const TrayPicture kRedGreen{LoadLevel::Red, LoadLevel::Green};

} // namespace

class TrayIconTest : public QObject {
    Q_OBJECT
private slots:
    // Operations: "add:TIP", "modify:TIP", "delete". Add uses the idle
    // picture, modify the red/green one, so the record tells them apart.
    // The host refusals (delete when not shown, modify before an add, a
    // second add) send nothing; the record follows every call.
    void requestsReachTheHost_data() {
        columns<QStringList, QString, int, QString, bool>(
            {"operations", "sent", "recordId", "recordTip", "shownAtEnd"});
        row("add shows the icon", QStringList{"add:Zarn Bandwidth"}, "show:Zarn Bandwidth", 1,
            "Zarn Bandwidth", true);
        row("delete before anything", QStringList{"delete"}, "", 0, "", false);
        row("modify before any add", QStringList{"modify:up 5"}, "", 1, "up 5", false);
        row("second add while shown", QStringList{"add:first", "add:second"}, "show:first", 1,
            "second", true);
        row("modify while shown updates", QStringList{"add:a", "modify:b"}, "show:a update:b", 1,
            "b", true);
        row("second delete", QStringList{"add:a", "delete", "delete"}, "show:a remove", 1, "a",
            false);
        row("modify after delete", QStringList{"add:a", "delete", "modify:b"}, "show:a remove", 1,
            "b", false);
        row("add after delete shows again", QStringList{"add:a", "delete", "add:c"},
            "show:a remove show:c", 1, "c", true);
    }
    void requestsReachTheHost() {
        QFETCH(QStringList, operations);
        QFETCH(int, recordId);
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        for (const QString &op : operations) {
            const QString tip = op.section(QLatin1Char(':'), 1);
            if (op.startsWith(QLatin1String("add:")))
                icon.addTrayIcon(TrayPicture::idle(), tip, &owner);
            else if (op.startsWith(QLatin1String("modify:")))
                icon.modifyTrayIcon(kRedGreen, tip, &owner);
            else
                icon.deleteTrayIcon();
        }
        QTEST(requestLog(host), "sent");
        QTEST(host.shown, "shownAtEnd");
        QCOMPARE(icon.trayRecord().id, recordId);
        QTEST(icon.trayRecord().tip, "recordTip");
        QCOMPARE(icon.trayRecord().window.data(), recordId ? &owner : nullptr);
    }

    // The tip goes whole, past the other platform's 63 characters, and the
    // host gets the picture asked for.
    void tipAndPictureReachTheHost() {
        const QString tip = QString(64, u'y') + QStringLiteral("\n– Ünïcödé ✓ 下载");
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        icon.addTrayIcon(TrayPicture::idle(), tip, &owner);
        QCOMPARE(host.tip, tip);
        QCOMPARE(pictureOf(host.icon), pictureOf(Images::trayIcon(TrayPicture::idle())));
        icon.modifyTrayIcon(kRedGreen, tip + u'!', &owner);
        QCOMPARE(host.tip, tip + u'!');
        QCOMPARE(pictureOf(host.icon), pictureOf(Images::trayIcon(kRedGreen)));
        QCOMPARE(icon.trayRecord().picture, std::optional<TrayPicture>(kRedGreen));
    }

    // A tip-only change hands the host the very icon it already shows, so a
    // tray host can skip the repaint; another picture is another icon, and
    // going back to the first picture shows it again.
    void samePictureSameIcon() {
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        icon.addTrayIcon(TrayPicture::idle(), QStringLiteral("a"), &owner);
        icon.modifyTrayIcon(kRedGreen, QStringLiteral("b"), &owner);
        icon.modifyTrayIcon(kRedGreen, QStringLiteral("c"), &owner);
        icon.modifyTrayIcon(TrayPicture::idle(), QStringLiteral("d"), &owner);
        const auto &r = host.requests;
        QCOMPARE(r.size(), size_t(4));
        QCOMPARE(r[2].iconKey, r[1].iconKey);
        QVERIFY(r[1].iconKey != r[0].iconKey);
        QVERIFY(r[3].iconKey != r[2].iconKey);
        QCOMPARE(pictureOf(host.icon), pictureOf(Images::trayIcon(TrayPicture::idle())));
    }

    void noHostNeverCrashes() {
        QWidget owner;
        TrayIcon icon(nullptr);
        icon.deleteTrayIcon();
        icon.modifyTrayIcon(kRedGreen, QStringLiteral("m"), &owner);
        icon.addTrayIcon(TrayPicture::idle(), QStringLiteral("a"), &owner);
        icon.deleteTrayIcon();
        QCOMPARE(icon.trayRecord().tip, QStringLiteral("a"));
    }

#ifdef Q_OS_LINUX
    void protocolFollowsTheDesktop_data() {
        columns<QString, bool, bool>({"platform", "watcher", "doubleClicks"});
        row("X11 with trayer or XFCE", "xcb", false, true);
        row("X11 under Plasma or AppIndicator", "xcb", true, false);
        row("Wayland without watcher", "wayland", false, false);
        row("Wayland with watcher", "wayland", true, false);
    }
    void protocolFollowsTheDesktop() {
        QFETCH(QString, platform);
        QFETCH(bool, watcher);
        QTEST(trayProtocolFor(platform, watcher) == TrayProtocol::XEmbed, "doubleClicks");
    }
#endif
};

QTEST_MAIN(TrayIconTest)
#include "test_tray_icon.moc"
