// The main window over the real kernel, inside the network namespace that
// run_in_netns.sh made: totals and rates against the kernel's own counters,
// an interface that vanishes while it is monitored, and a list of a thousand
// interfaces. Every byte moved here is a raw frame written on one end of a
// veth pair of this namespace, so the counters move by exactly what the test
// sends and nothing else.

#include "monitor/RateText.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "settings/Conversions.h"
#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Table.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QTimer>
#include <QtTest>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

quint64 counter(const QString &name, const char *which) {
    QFile f(QStringLiteral("/sys/class/net/%1/statistics/%2").arg(name, QLatin1String(which)));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readAll().trimmed().toULongLong();
}

qint32 indexOf(const QString &name) {
    return qint32(if_nametoindex(name.toUtf8().constData()));
}

bool ip(const QStringList &args) {
    return QProcess::execute(QStringLiteral("ip"), args) == 0;
}

// Writes count raw Ethernet frames of size bytes (header included) out of
// the interface. On a veth pair each one is counted whole, as sent on this
// end and as received on the other, before send() returns.
bool sendFrames(const QString &name, int count, int size) {
    const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = indexOf(name);
    to.sll_halen = ETH_ALEN;
    QByteArray frame(size, '\0');
    std::memset(frame.data(), 0xff, ETH_ALEN); // broadcast
    frame[6] = 0x02;                           // a locally administered source
    frame[12] = char(0x88);                    // the local experimental ethertype
    frame[13] = char(0xB5);
    bool ok = to.sll_ifindex > 0;
    for (int i = 0; ok && i < count; ++i)
        ok = ::sendto(fd, frame.constData(), size_t(size), 0, reinterpret_cast<sockaddr *>(&to),
                      sizeof to) == size;
    ::close(fd);
    return ok;
}

// A link that was just set up drops what it is given until the kernel has
// attached its queueing (asynchronously, within a second or so).
bool waitUntilCarrying(const QString &name) {
    for (int i = 0; i < 300; ++i) {
        if (!sendFrames(name, 1, 60))
            return false;
        if (counter(name, "tx_bytes") > 0)
            return true;
        QThread::msleep(10);
    }
    return false;
}

// Runs one ip command per line in a single process: a thousand links in well
// under a second. The lines are bytes, so names need not be UTF-8. With
// force (for cleaning up), lines that fail are passed over quietly.
bool ipBatch(const QByteArray &lines, bool force = false) {
    QTemporaryFile file;
    if (!file.open() || file.write(lines + '\n') < 0 || !file.flush())
        return false;
    QProcess p;
    if (force)
        p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral("ip"), force ? QStringList{"-force", "-batch", file.fileName()}
                                        : QStringList{"-batch", file.fileName()});
    return p.waitForFinished() && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A veth pair, both ends up and carrying.
bool vethPair(const QString &a, const QString &b) {
    return ip({"link", "add", "name", a, "type", "veth", "peer", "name", b}) &&
           ip({"link", "set", a, "up"}) && ip({"link", "set", b, "up"}) && waitUntilCarrying(a) &&
           waitUntilCarrying(b);
}

// The list as "index name" lines; the name is what follows the address.
QStringList listed(frmMain &w) {
    auto *list = w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << QStringLiteral("%1 %2")
                   .arg(w.adapterIndexes[size_t(i)])
                   .arg(list->itemText(i).section(QStringLiteral(": "), 1));
    return out;
}

// What `ip link` lists, in the same form.
QStringList ipLinks() {
    QProcess p;
    p.start(QStringLiteral("ip"), {"-o", "link", "show"});
    p.waitForFinished();
    QStringList out;
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty()) {
            const QList<QByteArray> fields = line.split(':');
            out << QStringLiteral("%1 %2").arg(
                QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1].trimmed().split('@')[0]));
        }
    return out;
}

QString text(frmMain &w, const char *label) {
    return w.findChild<QLabel *>(QLatin1String(label))->text();
}

// The bytes a rate label stands for over one tick of intervalMs.
double bytesOf(const QString &rateLabel, int intervalMs) {
    return RateText::readNumber(rateLabel).value_or(-1) * intervalMs / 1000.0;
}

struct Labels {
    QString name, sent, recv, down, up;
    bool operator==(const Labels &) const = default;
};

Labels labels(frmMain &w) {
    return {text(w, "lblAdapterName"), text(w, "lblSentBytes"), text(w, "lblRecvBytes"),
            text(w, "lblDownBytes"), text(w, "lblUpBytes")};
}

char *toString(const Labels &l) {
    return QTest::toString(
        QStringLiteral("[%1 | %2 | %3 | %4 | %5]").arg(l.name, l.sent, l.recv, l.down, l.up));
}

// A window over the kernel with the tick driven by hand: the interval only
// enters the arithmetic, as it does when the timer fires.
struct KernelWindow {
    TestPlatform env;
    NetlinkInterfaceSource source;
    std::unique_ptr<frmMain> w;

    KernelWindow() {
        Platform platform = env.platform();
        platform.interfaces = &source;
        w = std::make_unique<frmMain>(platform);
    }
    void follow(const QString &name, int intervalMs) {
        w->tmrAdapterUpdate->setInterval(intervalMs);
        w->trackedAdapter = QStringLiteral("0");
        w->selectedAdapter = indexOf(name);
        w->showTrayIcon = true; // the whole tick, tray step included
        w->animateTrayIcon = true;
        w->tmrAdapterUpdate_Timer(); // adopts
        w->tmrAdapterUpdate_Timer(); // takes the baseline
    }
};

} // namespace

class KernelWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        if (qEnvironmentVariableIsEmpty("ZARN_NETNS"))
            QSKIP("run through run_in_netns.sh: these tests need their own network namespace");
        QVERIFY2(indexOf(QStringLiteral("zveth0")) > 0,
                 "the namespace lacks the veth pair the script makes");
        if (!sendFrames(QStringLiteral("zveth0"), 1, 60))
            QSKIP("no packet socket here (CAP_NET_RAW); the kernel window tests did not run");
    }

    // Each tick shows the kernel's totals, and the rates over the ticks add up
    // to exactly the bytes written, in each direction.
    void ratesAccountForEveryByte_data() {
        QTest::addColumn<int>("intervalMs");
        QTest::addColumn<int>("frameSize");
        QTest::addColumn<QList<int>>("framesPerTick"); // received; sent is a third of it
        QTest::newRow("1000 ms, full frames") << 1000 << 1514 << QList<int>{10, 0, 33, 1, 200};
        QTest::newRow("300 ms, the default") << 300 << 999 << QList<int>{3, 60, 0, 9, 12, 30};
        QTest::newRow("250 ms, smallest frames") << 250 << 60 << QList<int>{1, 2, 500, 7};
    }
    void ratesAccountForEveryByte() {
        QFETCH(int, intervalMs);
        QFETCH(int, frameSize);
        QFETCH(QList<int>, framesPerTick);
        const QString iface = QStringLiteral("zveth1");
        // A total of 0 is taken for no baseline at all: give both directions
        // a first frame, so that every tick below shows both rates.
        QVERIFY(sendFrames(QStringLiteral("zveth0"), 1, 60) && sendFrames(iface, 1, 60));
        KernelWindow k;
        k.follow(iface, intervalMs);
        frmMain &w = *k.w;
        QCOMPARE(text(w, "lblAdapterName"), iface);

        const quint64 rx0 = counter(iface, "rx_bytes");
        const quint64 tx0 = counter(iface, "tx_bytes");
        double down = 0;
        double up = 0;
        qint64 written = 0;
        for (int frames : framesPerTick) {
            QVERIFY(sendFrames(QStringLiteral("zveth0"), frames, frameSize)); // arrives on zveth1
            QVERIFY(sendFrames(iface, frames / 3, frameSize));                // leaves zveth1
            written += qint64(frames) * frameSize;
            w.tmrAdapterUpdate_Timer();
            QCOMPARE(text(w, "lblRecvBytes"),
                     RateText::wholeNumber(qint64(counter(iface, "rx_bytes"))));
            QCOMPARE(text(w, "lblSentBytes"),
                     RateText::wholeNumber(qint64(counter(iface, "tx_bytes"))));
            QCOMPARE(bytesOf(text(w, "lblDownBytes"), intervalMs), double(frames) * frameSize);
            QCOMPARE(bytesOf(text(w, "lblUpBytes"), intervalMs), double(frames / 3) * frameSize);
            down += bytesOf(text(w, "lblDownBytes"), intervalMs);
            up += bytesOf(text(w, "lblUpBytes"), intervalMs);
        }
        QCOMPARE(down, double(written));
        QCOMPARE(qint64(down), qint64(counter(iface, "rx_bytes") - rx0));
        QCOMPARE(qint64(up), qint64(counter(iface, "tx_bytes") - tx0));
    }

    // The monitored interface goes away and one of the same name comes back.
    // Nothing the new one moves is shown: the totals keep their last texts
    // and the rates show nothing measured until the user picks an interface
    // again. Given the old index (the kernel
    // lets a new link take a free index), its counters start from zero: a
    // fresh baseline, not a rate.
    void vanishedInterface_data() {
        QTest::addColumn<bool>("sameIndex");
        QTest::newRow("new index") << false;
        QTest::newRow("same index again") << true;
    }
    void vanishedInterface() {
        QFETCH(bool, sameIndex);
        const QString a = QStringLiteral("zgone0");
        const QString b = QStringLiteral("zgone1");
        const auto make = [&](const QStringList &index) {
            return ip(QStringList{"link", "add", "name", a} + index +
                      QStringList{"type", "veth", "peer", "name", b}) &&
                   ip({"link", "set", a, "up"}) && ip({"link", "set", b, "up"}) &&
                   waitUntilCarrying(a) && waitUntilCarrying(b); // no zero baselines
        };
        QVERIFY(make({}));
        const auto cleanup = qScopeGuard([&] { ip({"link", "del", a}); });
        QVERIFY(ip({"addr", "add", "10.201.0.1/24", "dev", a}));
        const qint32 oldIndex = indexOf(a);

        KernelWindow k;
        frmMain &w = *k.w;
        Registry::writeSetting(QStringLiteral("Adapter"), QString::number(oldIndex));
        w.Form_Load();
        w.tmrAdapterUpdate->stop(); // the test drives the ticks
        auto *list = w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
        QCOMPARE(list->currentText(), QStringLiteral("10.201.0.1: zgone0"));
        QCOMPARE(w.selectedAdapter, oldIndex);
        w.tmrAdapterUpdate->setInterval(1000);
        w.tmrAdapterUpdate_Timer();
        w.tmrAdapterUpdate_Timer();
        QVERIFY(sendFrames(b, 4, 500) && sendFrames(a, 2, 100));
        w.tmrAdapterUpdate_Timer();
        const Labels before = labels(w);
        QCOMPARE(before.down, QStringLiteral("2,000"));
        QCOMPARE(before.up, QStringLiteral("200"));

        QVERIFY(ip({"link", "del", a}));
        for (int i = 0; i < 3; ++i)
            w.tmrAdapterUpdate_Timer();
        Labels gone = before;
        gone.down.clear();
        gone.up.clear();
        QCOMPARE(labels(w), gone);

        QVERIFY(make(sameIndex ? QStringList{"index", QString::number(oldIndex)} : QStringList()));
        QCOMPARE(indexOf(a) == oldIndex, sameIndex);
        QVERIFY(sendFrames(b, 7, 1000));
        w.tmrAdapterUpdate_Timer(); // with the same index: takes a fresh baseline
        Labels after = labels(w);
        if (sameIndex) {
            // The totals are the new link's own; the fall is no traffic.
            QCOMPARE(after.recv, RateText::wholeNumber(qint64(counter(a, "rx_bytes"))));
            after.sent = before.sent;
            after.recv = before.recv;
        }
        QCOMPARE(after, gone);
        QVERIFY(sendFrames(b, 3, 1000));
        w.tmrAdapterUpdate_Timer();
        if (sameIndex)
            QCOMPARE(text(w, "lblDownBytes"), QStringLiteral("3,000"));
        else
            QCOMPARE(labels(w), gone);

        // Picking the entry again shows what is left of the old interface:
        // no name, no speed, the type as it was, no address.
        if (!sameIndex) {
            QCOMPARE(text(w, "lblInfoAdapterType"), QStringLiteral("Ethernet"));
            w.cmdAdapters_Click();
            QCOMPARE(w.selectedAdapter, oldIndex);
            QCOMPARE(text(w, "lblInfoAdapterName"), QString());
            QCOMPARE(text(w, "lblInfoAdapterSpeed"), QStringLiteral("0 bit"));
            QCOMPARE(text(w, "lblInfoAdapterType"), QStringLiteral("Ethernet"));
            QCOMPARE(text(w, "lblInfoIPAddress"), QString());
        }
    }

    // A thousand veth links (five hundred pairs): the fill lists every one of
    // them after lo and the script's pair, in the kernel's order, and
    // re-selects the stored one.
    void thousandInterfaces() {
        std::vector<InterfaceRow> rows;
        NetlinkInterfaceSource probe;
        QCOMPARE(probe.interfaceTable(rows), TableResult::Ok);
        const size_t already = rows.size(); // lo and the script's pair
        QStringList add;
        QStringList del;
        for (int i = 0; i < 500; ++i) {
            add << QStringLiteral("link add zb%1 type veth peer name zc%1").arg(i);
            del << QStringLiteral("link del zb%1").arg(i);
        }
        QVERIFY(ipBatch(add.join(QLatin1Char('\n')).toUtf8()));
        const auto cleanup = qScopeGuard([&] { ipBatch(del.join(QLatin1Char('\n')).toUtf8()); });

        KernelWindow k;
        frmMain &w = *k.w;
        const qint32 stored = indexOf(QStringLiteral("zc377"));
        Registry::writeSetting(QStringLiteral("Adapter"), QString::number(stored));
        w.Form_Load();
        w.tmrAdapterUpdate->stop();

        QCOMPARE(k.source.interfaceTable(rows), TableResult::Ok);
        QCOMPARE(rows.size(), already + 1000);
        auto *list = w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
        QCOMPARE(size_t(list->count()), rows.size());
        QCOMPARE(w.adapterIndexes.size(), rows.size());
        QCOMPARE(list->itemText(0), QStringLiteral("127.0.0.1: lo"));
        int listed = 0;
        for (int i = 0; i < list->count(); ++i) {
            QCOMPARE(w.adapterIndexes[size_t(i)], rows[size_t(i)].index);
            if (list->itemText(i).startsWith(QLatin1String(": z")))
                ++listed;
        }
        QCOMPARE(listed, 1000);
        QCOMPARE(list->currentText(), QStringLiteral(": zc377"));
        QCOMPARE(w.adapterIndexes[size_t(list->currentIndex())], stored);
        QCOMPARE(w.selectedAdapter, stored);
        QCOMPARE(text(w, "lblInfoAdapterName"), QStringLiteral("zc377"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Adapter"), QString()).trimmed(),
                 QString::number(stored));
    }

    // Links made and removed while the program runs reach the list by the
    // next turn of the event loop; none becomes current by itself.
    void linksComeAndGo() {
        KernelWindow k;
        frmMain &w = *k.w;
        w.Form_Load();
        w.tmrAdapterUpdate->stop();
        const auto cleanup = qScopeGuard([&] { ipBatch("link del zev0", true); });
        QVERIFY(ip({"link", "add", "zev0", "type", "veth", "peer", "name", "zev1"}));
        QCoreApplication::processEvents();
        QCOMPARE(listed(w), ipLinks());
        QVERIFY(listed(w).join(u' ').contains(QLatin1String("zev1")));
        QCOMPARE(w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"))->currentIndex(), -1);
        QVERIFY(ip({"link", "del", "zev0"}));
        QCoreApplication::processEvents();
        QCOMPARE(listed(w), ipLinks());
        QVERIFY(!listed(w).join(u' ').contains(QLatin1String("zev")));
    }

    // The monitored link is made anew (a VPN reconnecting): under a new index
    // the selection, the stored choice and the Monitor tab follow it, from a
    // fresh baseline; a link of another kind taking the name is followed too.
    void followsLinkMadeAnew() {
        const QString a = QStringLiteral("zre0");
        const QString b = QStringLiteral("zre1");
        const auto cleanup = qScopeGuard([&] { ip({"link", "del", a}); });
        QVERIFY(vethPair(a, b));
        KernelWindow k;
        frmMain &w = *k.w;
        w.Form_Load();
        w.tmrAdapterUpdate->stop();
        w.tmrAdapterUpdate->setInterval(1000);
        auto *list = w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
        list->setCurrentIndex(list->findText(QStringLiteral(": ") + a));
        const qint32 oldIndex = indexOf(a);
        QCOMPARE(w.selectedAdapter, oldIndex);
        for (int i = 0; i < 2; ++i)
            w.tmrAdapterUpdate_Timer();
        QVERIFY(sendFrames(b, 2, 1000));
        w.tmrAdapterUpdate_Timer();
        QCOMPARE(text(w, "lblDownBytes"), QStringLiteral("2,000"));

        QVERIFY(ip({"link", "del", a}));
        QCoreApplication::processEvents();
        QCOMPARE(list->currentIndex(), -1);
        QVERIFY(vethPair(a, b));
        QVERIFY(sendFrames(b, 50, 1000)); // before the program hears of it
        QCoreApplication::processEvents();
        const qint32 newIndex = indexOf(a);
        QVERIFY(newIndex != oldIndex);
        QCOMPARE(w.selectedAdapter, newIndex);
        QCOMPARE(list->currentText(), QStringLiteral(": ") + a);
        QCOMPARE(Registry::readSetting(QStringLiteral("Adapter"), QString()),
                 QStringLiteral(" %1").arg(newIndex));
        QCOMPARE(Registry::readSetting(QStringLiteral("AdapterName"), QString()), a);
        QCOMPARE(listed(w), ipLinks());

        // Adopts, takes the baseline: the old rate stays, no phantom one.
        w.tmrAdapterUpdate_Timer();
        w.tmrAdapterUpdate_Timer();
        QCOMPARE(text(w, "lblDownBytes"), QStringLiteral("2,000"));
        QCOMPARE(text(w, "lblRecvBytes"), RateText::wholeNumber(qint64(counter(a, "rx_bytes"))));
        QVERIFY(sendFrames(b, 3, 1000));
        w.tmrAdapterUpdate_Timer();
        QCOMPARE(text(w, "lblDownBytes"), QStringLiteral("3,000"));

        QVERIFY(ip({"link", "del", a}));
        QVERIFY(ip({"tuntap", "add", "dev", a, "mode", "tun"}));
        QCoreApplication::processEvents();
        QCOMPARE(w.selectedAdapter, indexOf(a));
        QCOMPARE(listed(w), ipLinks());
        for (int i = 0; i < 3; ++i)
            w.tmrAdapterUpdate_Timer();
        QCOMPARE(text(w, "lblAdapterName"), a);
    }

    // Start-up with a stored index that now names another interface: the
    // stored name decides. Names are the kernel's bytes, for the sysfs
    // directory too (the speed is read there), and shown with a bad byte
    // replaced.
    void startUpByName_data() {
        const auto r = table<QByteArray, QString>({"name", "shown"});
        r("another interface", "zveth1", "10.200.0.2: zveth1");
        r("a name that is not UTF-8",
          "v\xe9"
          "A",
          ": v\uFFFDA");
    }
    void startUpByName() {
        QFETCH(QByteArray, name);
        const QByteArray odd("v\xe9"
                             "A");
        const auto cleanup = qScopeGuard([&] { ipBatch("link del " + odd); });
        QVERIFY(ipBatch("link add name " + odd + " type veth peer name zodd1\nlink set " + odd +
                        " up\nlink set zodd1 up"));
        KernelWindow k;
        frmMain &w = *k.w;
        Registry::writeSetting(QStringLiteral("Adapter"),
                               QString::number(indexOf(QStringLiteral("zveth0"))));
        Registry::writeSetting(QStringLiteral("AdapterName"),
                               Conversions::interfaceNameToText(name));
        w.Form_Load();
        w.tmrAdapterUpdate->stop();
        const qint32 expected = qint32(if_nametoindex(name.constData()));
        QVERIFY(expected > 0);
        QCOMPARE(w.selectedAdapter, expected);
        QTEST(w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"))->currentText(), "shown");
        QCOMPARE(Registry::readSetting(QStringLiteral("Adapter"), QString()),
                 QStringLiteral(" %1").arg(expected));
        QCOMPARE(text(w, "lblInfoAdapterSpeed"), QStringLiteral("10000 mbit"));
        QCOMPARE(text(w, "lblInfoAdapterName"), QString::fromUtf8(name)); // U+FFFD for 0xE9
    }

    // Five hundred links made while the window runs, then half of them
    // removed in one go while it does not (the notifications overflow the
    // socket: the list is read afresh): the list is what `ip link` says.
    void burstOfLinks() {
        KernelWindow k;
        frmMain &w = *k.w;
        w.Form_Load();
        w.tmrAdapterUpdate->stop();
        QByteArray add, del, delRest;
        for (int i = 0; i < 250; ++i) {
            add += QByteArray("link add zq") + QByteArray::number(i) + " type veth peer name zr" +
                   QByteArray::number(i) + "\n";
            (i % 2 ? del : delRest) += QByteArray("link del zq") + QByteArray::number(i) + "\n";
        }
        const auto cleanup = qScopeGuard([&] { ipBatch(del + delRest, true); });
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(add) == add.size() && file.flush());
        QProcess burst;
        burst.start(QStringLiteral("ip"), {"-batch", file.fileName()});
        QVERIFY(burst.waitForStarted());
        while (burst.state() != QProcess::NotRunning)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCOMPARE(burst.exitCode(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(listed(w), ipLinks());
        QCOMPARE(listed(w).size(), 3 + 500);

        QVERIFY(ipBatch(del));
        QCoreApplication::processEvents();
        QCOMPARE(listed(w), ipLinks());
        QCOMPARE(listed(w).size(), 3 + 250);
        QCOMPARE(w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"))->currentIndex(), -1);
    }
};

QTEST_MAIN(KernelWindowTest)
#include "test_kernel_window.moc"
