// The Linux backends in the namespace netns.sh made, against what the kernel
// says through the C library and sysfs, and the built program's usage history.

#include "Netns.h"
#include "platform/linux/LinuxUsagePlatform.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <linux/netlink.h>
#include <net/if.h>

namespace {

using Detail = InterfaceSource::Detail;
using Kind = UsageRules::LinkKind;
const QString kProgram = QStringLiteral(ZARN_PROGRAM);

// "index name" lines in the kernel's order: the source's; the C library's own.
QByteArrayList listed(NetlinkInterfaceSource &source) {
    std::vector<InterfaceRow> rows;
    QByteArrayList out;
    if (source.interfaceTable(rows) == TableResult::Ok)
        for (const InterfaceRow &row : rows)
            out << QByteArray::number(row.index) + ' ' + row.name;
    return out;
}
QByteArrayList libcLinks() {
    QByteArrayList out;
    struct if_nameindex *const all = ::if_nameindex();
    for (struct if_nameindex *i = all; i && i->if_index; ++i)
        out << QByteArray::number(i->if_index) + ' ' + i->if_name;
    if_freenameindex(all);
    return out;
}

QString text(const InterfaceRow &r) {
    return words(r.index, r.name.toHex(), r.description, r.type, r.inOctets, r.outOctets,
                 r.counterBits, r.speed);
}

// A counter of the link as sysfs has it ("rx_bytes"); zveth0's by default.
qint64 counter(const char *which = "rx_bytes", const QByteArray &name = "zveth0") {
    return qint64(netns::statistic(name, which));
}

// Today's received bytes of zveth0 in the program's report; -1 without one.
qint64 receivedToday() {
    QProcess report; // its output is empty when it fails
    report.start(kProgram, {"--usage", "zveth0", "--json"});
    report.waitForFinished();
    const auto days = QJsonDocument::fromJson(report.readAllStandardOutput())["days"].toArray();
    return days.isEmpty() ? -1 : days.last()["received"].toInteger(-1);
}

// Starts the program and waits for its first save (the store's journal changes).
bool start(QProcess &p, const QString &store) {
    const auto stamp = [&] {
        const QFileInfo wal(store + "-wal");
        return wal.exists() ? wal.lastModified().toMSecsSinceEpoch() * 1000 + wal.size() : -1;
    };
    const qint64 before = stamp();
    p.start(kProgram, {});
    return QTest::qWaitFor([&] { return stamp() != before && receivedToday() >= 0; }, 10000);
}

bool near(qint64 got, qint64 expected) {
    qInfo("%lld counted, %lld passed", got, expected);
    return qAbs(got - expected) <= expected / 100;
}

// With zveth0 gone the report shows only what was saved; then it is back.
bool saved(qint64 expected) {
    return netns::ipBatch("link del zveth0") && near(receivedToday(), expected) &&
           netns::vethPair();
}

} // namespace

class KernelTest : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    NetlinkInterfaceSource source_;

private slots:
    void initTestCase() {
        if (netns::peer.isEmpty())
            QSKIP("run through netns.sh: these tests need network namespaces of their own");
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + "/data").toUtf8());
        Registry::writeSetting("HistoryInterfaces", "zveth0"); // veth is left out unless named
        Registry::writeSetting("UpdateFrequency", "200");
        QVERIFY(netns::vethPair());
        Registry::writeSetting("Adapter", QString::number(if_nametoindex("zveth0")));
        Registry::writeSetting("AdapterName", "zveth0");
        QVERIFY(netns::ipBatch("link add zbr0 type bridge\ntuntap add dev ztun0 mode tun\n"
                               "link add v\xe9" // a name that is not UTF-8
                               "A type veth peer name zodd1"));
        QVERIFY(netns::traffic(3000000));
        QTest::qWait(300); // until the connection's last packets have gone
    }

    // A link in the table and read by index, for the tick and in full (with
    // its speed): as sysfs has it; the usage platform's kind.
    void rows_data() {
        const auto r = table<QByteArray, quint32, int, quint64>({"name", "type", "kind", "speed"});
        r("loopback", "lo", 24, int(Kind::Loopback), 0);
        r("veth: 10000 Mbit/s", "zveth0", 6, int(Kind::Veth), Q_UINT64_C(10000000000));
        r("bridge", "zbr0", 6, int(Kind::Bridge), 0);
        r("tun", "ztun0", 131, int(Kind::Counted), 0);
    }
    void rows() {
        const QByteArray name = cell<QByteArray>("name");
        InterfaceRow t, counters, full, bytes;
        QVERIFY(source_.interfaceRow(qint32(if_nametoindex(name)), full, Detail::Full));
        QVERIFY(source_.interfaceRow(full.index, counters, Detail::Counters));
        QVERIFY(source_.interfaceRow(full.index, bytes, Detail::Bytes));
        std::vector<InterfaceRow> table;
        QCOMPARE(source_.interfaceTable(table), TableResult::Ok);
        for (const InterfaceRow &row : table)
            if (row.index == full.index)
                t = row;
        QTEST(t.type, "type");
        QCOMPARE(words(t.inOctets, t.outOctets),
                 words(counter("rx_bytes", name), counter("tx_bytes", name)));
        counters.type = t.type; // the tick needs no type
        QCOMPARE(text(counters), text(t));
        QCOMPARE(words(bytes.inOctets, bytes.outOctets), words(t.inOctets, t.outOctets));
        t.speed = cell<quint64>("speed");
        QCOMPARE(text(full), text(t));
        LinuxUsagePlatform platform;
        QTEST(int(platform.linkKind(name, t.type)), "kind");
    }

    // Sorted by address, not in the kernel's order (by link: lo first).
    void addresses() {
        std::vector<AddressRow> rows;
        QVERIFY(source_.addressTable(rows));
        QStringList seen;
        for (const AddressRow &row : rows)
            seen << words(QString::number(row.address, 16), row.index);
        QCOMPARE(seen.join(','),
                 QStringLiteral("ac80001 %1,7f000001 1").arg(if_nametoindex("zveth0")));
    }

    // A socket gone bad (its descriptor now a UDP one) is opened anew and the
    // read answers; a table the kernel refuses (asked on generic netlink now)
    // is a failed read, not a system without one. No descriptor is left.
    void socketGoesBad() {
        const int udp = ::socket(AF_INET, SOCK_DGRAM, 0), fd = ::dup(udp);
        ::close(fd); // now the lowest free descriptor: the source's socket takes it
        auto source = std::make_unique<NetlinkInterfaceSource>();
        QVERIFY(udp >= 0 && ::dup2(udp, fd) == fd && ::close(udp) == 0);
        InterfaceRow row;
        QVERIFY(source->interfaceRow(1, row, Detail::Counters) && row.name == "lo");
        const int generic = ::socket(AF_NETLINK, SOCK_RAW, NETLINK_GENERIC); // takes fd
        QVERIFY(::dup2(generic, udp) == udp && ::close(generic) == 0);       // the new one was udp
        std::vector<InterfaceRow> rows;
        QCOMPARE(source->interfaceTable(rows), TableResult::Failed);
        source.reset();
        QVERIFY(::fcntl(fd, F_GETFD) == -1 && ::fcntl(udp, F_GETFD) == -1);
    }

    // The program counts, within 1 %, what the kernel counted while it runs
    // (the report adds what no save holds yet); while it is down after a
    // SIGKILL (same boot); over zveth0 made anew (from zero). All is saved
    // when its display ends under it, and at a SIGTERM, in a store only its
    // user may read.
    void counted() {
        const QString store = home_.path() + "/data/ZarnDev/Zarn Bandwidth/usage.sqlite";
        QProcess first, second, third, display;
        QVERIFY(start(first, store));
        qint64 base = counter();
        QVERIFY(netns::traffic(10000000));
        QVERIFY(near(receivedToday(), counter() - base));
        first.kill();
        QVERIFY(first.waitForFinished());
        QVERIFY(netns::traffic(20000000));
        const QString x = QStringLiteral(":%1").arg(100 + QCoreApplication::applicationPid() % 800);
        display.start("Xvfb", {x, "-nolisten", "tcp"});
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists("/tmp/.X11-unix/X" + x.mid(1)); }));
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", x);
        second.setProcessEnvironment(env);
        QVERIFY(start(second, store));
        QVERIFY(netns::traffic(10000000)); // the selected link, then made anew at once
        QTest::qWait(400);
        qint64 expected = counter() - base;
        QVERIFY(netns::vethPair(true));
        base = counter();
        QVERIFY(netns::traffic(10000000));
        QTest::qWait(1000);
        display.terminate();
        QVERIFY(second.waitForFinished(20000) && display.waitForFinished(20000));
        expected += counter() - base;
        QVERIFY(saved(expected));
        QVERIFY(start(third, store));
        QVERIFY(netns::traffic(10000000));
        ::kill(pid_t(third.processId()), SIGTERM);
        QVERIFY(third.waitForFinished(20000) && third.exitCode() == 0);
        QVERIFY(saved(expected + counter()));
        QCOMPARE(QFile::permissions(store) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
    }

    // Each change to the links is told by the next turn of the event loop and
    // the table then is whole, also when five hundred pairs at once overflow
    // the notification socket. A link that went is read as nothing.
    void linkEvents() {
        int told = 0;
        QVERIFY(source_.watch([&] { ++told; }));
        const auto step = [&](const QByteArray &commands) {
            told = 0;
            return netns::ipBatch(commands) && QTest::qWaitFor([&] { return told > 0; }, 5000) &&
                   listed(source_) == libcLinks();
        };
        QVERIFY(step("link add zev0 type veth peer name zev1 netns " + netns::peer.toUtf8()));
        const qint32 gone = qint32(if_nametoindex("zev0"));
        const auto countedName = [&] {
            InterfaceRow row;
            return source_.interfaceRow(gone, row, Detail::Counters) ? row.name : QByteArray();
        };
        QCOMPARE(countedName(), QByteArray("zev0"));
        QVERIFY(step("link set zev0 name zev2"));
        QCOMPARE(countedName(), QByteArray("zev2")); // the rename was heard
        QVERIFY(step("addr add 10.201.0.1/24 dev zev2"));
        QString gone2;
        QVERIFY(source_.watchLinks([&](const InterfaceRow &row, bool gone) {
            gone2 += gone ? words(row.index, row.name) : QString();
        }));
        QVERIFY(step("link del zev2"));
        QCOMPARE(gone2, words(gone, QByteArray("zev2")));
        QVERIFY(!source_.watchLinks(nullptr));
        for (const Detail detail : {Detail::Counters, Detail::Full, Detail::Bytes}) {
            InterfaceRow row{gone, 6, 1, 2, 3, 32, "stale", "stale"};
            QVERIFY(!source_.interfaceRow(gone, row, detail));
            QCOMPARE(text(row), words(gone, QString(), QString(), 0, 0, 0, 64, 0));
        }
        QByteArray many; // they go with the namespace: removing them takes seconds
        for (int i = 0; i < 500; ++i)
            many += QByteArray("link add zb%1 type veth peer name zc%1\n")
                        .replace("%1", QByteArray::number(i));
        QVERIFY(step(many));
        QVERIFY(!source_.watch(nullptr));
    }
};

QTEST_GUILESS_MAIN(KernelTest)
#include "test_kernel.moc"
