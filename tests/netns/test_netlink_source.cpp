// The kernel interface source against the real kernel, inside the network
// namespace that run_in_netns.sh made. All traffic stays on that namespace's
// own loopback.

#include "platform/linux/NetlinkInterfaceSource.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString sysfs(const QString &name, const QString &file) {
    QFile f(QStringLiteral("/sys/class/net/%1/%2").arg(name, file));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.readAll()).trimmed();
}

quint64 sysfsCounter(const QString &name, const char *counter) {
    return sysfs(name, QStringLiteral("statistics/") + QLatin1String(counter)).toULongLong();
}

qint32 indexOf(const char *name) {
    return qint32(if_nametoindex(name));
}

bool ip(const QStringList &args) {
    return QProcess::execute(QStringLiteral("ip"), args) == 0;
}

QStringList openFiles() {
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot);
}

int openFileCount() {
    return int(openFiles().size());
}

} // namespace

class NetlinkSourceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("ZARN_NETNS"))
            QSKIP("run through run_in_netns.sh: these tests need their own network namespace");
        QVERIFY2(indexOf("zveth0") > 0, "the namespace lacks the veth pair the script makes");
    }

    void table() {
        NetlinkInterfaceSource source;
        std::vector<InterfaceRow> rows;
        QCOMPARE(source.interfaceTable(rows), TableResult::Ok);
        QCOMPARE(rows.size(), size_t(3));
        QCOMPARE(rows[0].index, 1);
        QCOMPARE(rows[0].description, QStringLiteral("lo"));
        for (const InterfaceRow &row : rows) {
            QCOMPARE(QString::number(row.index), sysfs(row.description, QStringLiteral("ifindex")));
            QCOMPARE(row.counterBits, 64);
            QCOMPARE(row.type, row.description == QLatin1String("lo") ? 24u : 6u);
        }
    }

    void row_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<quint32>("type");
        QTest::newRow("lo") << "lo" << 24u;
        QTest::newRow("zveth0") << "zveth0" << 6u;
        QTest::newRow("zveth1") << "zveth1" << 6u;
    }
    void row() {
        QFETCH(QString, name);
        QFETCH(quint32, type);
        NetlinkInterfaceSource source;
        const qint32 index = indexOf(name.toUtf8().constData());
        InterfaceRow row;
        // Counters move only with this test's traffic, so reads on both
        // sides bound the netlink read.
        const quint64 rxBefore = sysfsCounter(name, "rx_bytes");
        const quint64 txBefore = sysfsCounter(name, "tx_bytes");
        QVERIFY(source.interfaceRow(index, row, InterfaceSource::Detail::Counters));
        const quint64 rxAfter = sysfsCounter(name, "rx_bytes");
        const quint64 txAfter = sysfsCounter(name, "tx_bytes");
        QVERIFY(rxBefore <= row.inOctets && row.inOctets <= rxAfter);
        QVERIFY(txBefore <= row.outOctets && row.outOctets <= txAfter);
        QCOMPARE(row.index, index);
        QCOMPARE(row.description, name);
        QCOMPARE(row.name, name.toUtf8());
        QCOMPARE(row.counterBits, 64);
        QCOMPARE(row.speed, Q_UINT64_C(0)); // the speed comes with full detail only

        QVERIFY(source.interfaceRow(index, row, InterfaceSource::Detail::Full));
        QCOMPARE(row.description, name);
        QCOMPARE(row.type, type);
        const QString mbits = sysfs(name, QStringLiteral("speed"));
        const quint64 expected = mbits.toLongLong() > 0 ? mbits.toULongLong() * 1000000 : 0;
        QCOMPARE(row.speed, expected);
        if (name != QLatin1String("lo"))
            QCOMPARE(row.speed, Q_UINT64_C(10000000000)); // veth reports 10000 Mbit/s
    }

    void countersFollowTraffic() {
        constexpr int kDatagrams = 50;
        constexpr int kPayload = 1000;
        const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(receiver >= 0 && sender >= 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof to;
        QCOMPARE(::bind(receiver, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        QCOMPARE(::getsockname(receiver, reinterpret_cast<sockaddr *>(&to), &length), 0);

        NetlinkInterfaceSource source;
        InterfaceRow before;
        InterfaceRow after;
        QVERIFY(source.interfaceRow(1, before, InterfaceSource::Detail::Counters));
        char data[kPayload] = {};
        for (int i = 0; i < kDatagrams; ++i)
            QCOMPARE(::sendto(sender, data, sizeof data, 0, reinterpret_cast<sockaddr *>(&to),
                              sizeof to),
                     ssize_t(kPayload));
        for (int i = 0; i < kDatagrams; ++i)
            QCOMPARE(::recv(receiver, data, sizeof data, 0), ssize_t(kPayload));
        QVERIFY(source.interfaceRow(1, after, InterfaceSource::Detail::Counters));
        ::close(sender);
        ::close(receiver);

        // Payload plus UDP and IPv4 headers at least; a link header at most.
        const quint64 sent = after.outOctets - before.outOctets;
        const quint64 received = after.inOctets - before.inOctets;
        QVERIFY2(sent >= quint64(kDatagrams) * (kPayload + 28) &&
                     sent <= quint64(kDatagrams) * (kPayload + 28 + 64),
                 qPrintable(QString::number(sent)));
        QCOMPARE(received, sent); // loopback receives what it sends
        QCOMPARE(after.inOctets, sysfsCounter(QStringLiteral("lo"), "rx_bytes"));
        QCOMPARE(after.outOctets, sysfsCounter(QStringLiteral("lo"), "tx_bytes"));
    }

    void deletedInterface() {
        NetlinkInterfaceSource source;
        QVERIFY(ip({"link", "add", "name", "zgone0", "type", "veth", "peer", "name", "zgone1"}));
        const qint32 index = indexOf("zgone0");
        QVERIFY(index > 0);
        InterfaceRow row;
        QVERIFY(source.interfaceRow(index, row, InterfaceSource::Detail::Counters));
        QCOMPARE(row.description, QStringLiteral("zgone0"));
        QVERIFY(ip({"link", "del", "zgone0"}));
        row.description = QStringLiteral("stale");
        QVERIFY(!source.interfaceRow(index, row, InterfaceSource::Detail::Counters));
        QCOMPARE(row.description, QString());
        QVERIFY(!source.interfaceRow(index, row, InterfaceSource::Detail::Full));
        QCOMPARE(row.index, index);
        QCOMPARE(row.description, QString());
        QVERIFY(!source.interfaceRow(0, row, InterfaceSource::Detail::Counters));
        // The socket is still good for the next question.
        QVERIFY(source.interfaceRow(1, row, InterfaceSource::Detail::Counters));
    }

    void addresses() {
        NetlinkInterfaceSource source;
        std::vector<AddressRow> rows;
        QVERIFY(source.addressTable(rows));
        const qint32 veth0 = indexOf("zveth0");
        const qint32 veth1 = indexOf("zveth1");
        const std::vector<std::pair<quint32, qint32>> expected = {
            {0x0AC80001u, veth0}, {0x0AC80002u, veth1}, {0x0AC80009u, veth1}, {0x7F000001u, 1}};
        QCOMPARE(rows.size(), expected.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            QCOMPARE(rows[i].address, expected[i].first);
            QCOMPARE(rows[i].index, expected[i].second);
        }
    }

    // One socket for the object's whole life: reads open no descriptors.
    void noDescriptorPerRead() {
        NetlinkInterfaceSource source;
        InterfaceRow row;
        std::vector<AddressRow> addresses;
        std::vector<InterfaceRow> rows;
        QVERIFY(source.interfaceRow(1, row, InterfaceSource::Detail::Full));
        const int open = openFileCount();
        for (int i = 0; i < 500; ++i) {
            QVERIFY(source.interfaceRow(1, row, InterfaceSource::Detail::Full));
            QVERIFY(source.addressTable(addresses));
        }
        QCOMPARE(source.interfaceTable(rows), TableResult::Ok);
        QCOMPARE(openFileCount(), open);
    }

    // A socket that goes bad (here: its descriptor now names a UDP socket)
    // is replaced, and the read still answers.
    void reconnectsAfterSocketFailure() {
        const QStringList before = openFiles();
        NetlinkInterfaceSource source;
        QStringList added = openFiles();
        for (const QString &fd : before)
            added.removeAll(fd);
        QCOMPARE(added.size(), qsizetype(1));
        const int fd = added.first().toInt();
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
        QVERIFY(udp >= 0);
        QCOMPARE(::dup2(udp, fd), fd);
        ::close(udp);

        InterfaceRow row;
        QVERIFY(source.interfaceRow(1, row, InterfaceSource::Detail::Counters));
        QCOMPARE(row.description, QStringLiteral("lo"));
        std::vector<InterfaceRow> rows;
        QCOMPARE(source.interfaceTable(rows), TableResult::Ok);
        QCOMPARE(openFileCount(), before.size() + 1);
    }

    // The adapter page over the real kernel: entries, details, the lower of
    // two addresses.
    void adapterPage() {
        TestPlatform env;
        NetlinkInterfaceSource source;
        Platform platform = env.platform();
        platform.interfaces = &source;
        frmMain w(platform);
        w.enumerateAdapters();
        auto *list = w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
        QStringList entries;
        for (int i = 0; i < list->count(); ++i)
            entries << list->itemText(i);
        // The kernel's own order (the veth peer was made first).
        const QMap<QString, QString> expected = {{"lo", "127.0.0.1: lo"},
                                                 {"zveth0", "10.200.0.1: zveth0"},
                                                 {"zveth1", "10.200.0.2: zveth1"}};
        std::vector<InterfaceRow> rows;
        QCOMPARE(source.interfaceTable(rows), TableResult::Ok);
        QStringList inKernelOrder;
        for (const InterfaceRow &row : rows)
            inKernelOrder << expected.value(row.description);
        QCOMPARE(entries, inKernelOrder);
        QCOMPARE(list->currentIndex(), -1);

        const auto text = [&](const char *name) {
            return w.findChild<QLabel *>(QLatin1String(name))->text();
        };
        list->setCurrentIndex(0);
        QCOMPARE(w.selectedAdapter, 1);
        QCOMPARE(text("lblInfoAdapterName"), QStringLiteral("lo"));
        QCOMPARE(text("lblInfoAdapterSpeed"), QStringLiteral("0 bit"));
        QCOMPARE(text("lblInfoAdapterType"), QStringLiteral("Loopback"));
        QCOMPARE(text("lblInfoIPAddress"), QStringLiteral("127.0.0.1"));
        list->setCurrentIndex(int(entries.indexOf("10.200.0.2: zveth1")));
        QCOMPARE(text("lblInfoAdapterName"), QStringLiteral("zveth1"));
        QCOMPARE(text("lblInfoAdapterSpeed"), QStringLiteral("10000 mbit"));
        QCOMPARE(text("lblInfoAdapterType"), QStringLiteral("Ethernet"));
        QCOMPARE(text("lblInfoIPAddress"), QStringLiteral("10.200.0.2"));
    }
};

QTEST_MAIN(NetlinkSourceTest)
#include "test_netlink_source.moc"
