#include "platform/qt/QtTrayHost.h"
#include "support/Fakes.h"
#include "tray/TrayIcon.h"
#include "ui/Images.h"

#include <QWidget>
#include <QtTest>

namespace {

// What the host was asked, one word per request: "show:TIP", "update:TIP", "remove".
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
    void requestsReachTheHost_data() {
        QTest::addColumn<QStringList>("operations");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<int>("recordId");
        QTest::addColumn<QString>("recordTip");
        QTest::addColumn<bool>("shownAtEnd");

        QTest::newRow("add shows the icon")
            << QStringList{"add:Zarn Bandwidth"} << "show:Zarn Bandwidth" << 1 << "Zarn Bandwidth"
            << true;
        QTest::newRow("delete before anything sends nothing")
            << QStringList{"delete"} << "" << 0 << "" << false;
        QTest::newRow("modify before any add is refused but kept")
            << QStringList{"modify:up 5"} << "" << 1 << "up 5" << false;
        QTest::newRow("second add while shown is refused")
            << QStringList{"add:first", "add:second"} << "show:first" << 1 << "second" << true;
        QTest::newRow("modify while shown updates")
            << QStringList{"add:a", "modify:b"} << "show:a update:b" << 1 << "b" << true;
        QTest::newRow("delete keeps the record")
            << QStringList{"add:a", "delete"} << "show:a remove" << 1 << "a" << false;
        QTest::newRow("second delete is refused")
            << QStringList{"add:a", "delete", "delete"} << "show:a remove" << 1 << "a" << false;
        QTest::newRow("modify after delete is refused, the record follows it")
            << QStringList{"add:a", "delete", "modify:b"} << "show:a remove" << 1 << "b" << false;
        QTest::newRow("add after delete shows again") << QStringList{"add:a", "delete", "add:c"}
                                                      << "show:a remove show:c" << 1 << "c" << true;
    }
    void requestsReachTheHost() {
        QFETCH(QStringList, operations);
        QFETCH(QString, sent);
        QFETCH(int, recordId);
        QFETCH(QString, recordTip);
        QFETCH(bool, shownAtEnd);

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
        QCOMPARE(requestLog(host), sent);
        QCOMPARE(host.shown, shownAtEnd);
        QCOMPARE(icon.trayRecord().id, recordId);
        QCOMPARE(icon.trayRecord().tip, recordTip);
        QCOMPARE(icon.trayRecord().window.data(), recordId ? &owner : nullptr);
    }

    void tipIsPassedWhole_data() {
        QTest::addColumn<QString>("tip");
        QTest::newRow("63") << QString(63, QLatin1Char('x'));
        QTest::newRow("64") << QString(64, QLatin1Char('y'));
        QTest::newRow("two lines, 120")
            << QString(60, QLatin1Char('u')) + QLatin1Char('\n') + QString(59, QLatin1Char('d'));
        QTest::newRow("non-Latin") << QStringLiteral("Zarn – Ünïcödé ✓ 下载");
    }
    void tipIsPassedWhole() {
        QFETCH(QString, tip);
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        icon.addTrayIcon(TrayPicture::idle(), tip, &owner);
        QCOMPARE(host.tip, tip);
        icon.modifyTrayIcon(kRedGreen, tip + QLatin1Char('!'), &owner);
        QCOMPARE(host.tip, tip + QLatin1Char('!'));
        QCOMPARE(icon.trayRecord().tip, tip + QLatin1Char('!'));
    }

    void hostGetsThePictureAsked() {
        FakeTrayHost host;
        QWidget owner;
        TrayIcon icon(&host);
        icon.addTrayIcon(TrayPicture::idle(), QStringLiteral("t"), &owner);
        QCOMPARE(pictureOf(host.icon), pictureOf(Images::trayIcon(TrayPicture::idle())));
        icon.modifyTrayIcon(kRedGreen, QStringLiteral("t"), &owner);
        QCOMPARE(pictureOf(host.icon), pictureOf(Images::trayIcon(kRedGreen)));
        QVERIFY(pictureOf(host.icon) != pictureOf(Images::trayIcon(TrayPicture::idle())));
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

    void protocolFollowsTheDesktop_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<bool>("watcher");
        QTest::addColumn<bool>("doubleClicks");
        QTest::newRow("X11 with trayer or XFCE") << "xcb" << false << true;
        QTest::newRow("X11 under Plasma or AppIndicator") << "xcb" << true << false;
        QTest::newRow("Wayland without watcher") << "wayland" << false << false;
        QTest::newRow("Wayland with watcher") << "wayland" << true << false;
    }
    void protocolFollowsTheDesktop() {
        QFETCH(QString, platform);
        QFETCH(bool, watcher);
        QFETCH(bool, doubleClicks);
        QCOMPARE(trayProtocolFor(platform, watcher) == TrayProtocol::XEmbed, doubleClicks);
    }
};

QTEST_MAIN(TrayIconTest)
#include "test_tray_icon.moc"
