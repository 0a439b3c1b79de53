#include "settings/Registry.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"

#include <QComboBox>
#include <QLabel>
#include <QtTest>

namespace {

const QString kAbsent = QStringLiteral("<absent>");

QString storedAdapter() {
    return Registry::readSetting(QStringLiteral("Adapter"), kAbsent);
}

void store(const QString &text) {
    if (text != kAbsent)
        Registry::writeSetting(QStringLiteral("Adapter"), text);
}

// Controls by object name: the generated form header belongs to the library.
QComboBox *list(const frmMain &w) {
    return w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
}

QLabel *label(const frmMain &w, const char *name) {
    return w.findChild<QLabel *>(QLatin1String(name));
}

QStringList entries(const frmMain &w) {
    QStringList out;
    for (int i = 0; i < list(w)->count(); ++i)
        out << list(w)->itemText(i);
    return out;
}

QList<qint32> indexes(const frmMain &w) {
    return QList<qint32>(w.adapterIndexes.begin(), w.adapterIndexes.end());
}

// lo, eth0 and an interface without an IPv4 address, at indexes 2, 3, 7.
void addStandardTable(FakeInterfaceSource &source) {
    source.add(2, QStringLiteral("lo"), 24, 0);
    source.add(3, QStringLiteral("eth0"), 6, 100000000);
    source.add(7, QStringLiteral("wlan0"), 71, 54000000);
    source.addresses = {{0x7F000001u, 2}, {0x0A000005u, 3}};
}

} // namespace

class AdapterListTest : public QObject {
    Q_OBJECT
private slots:
    void fill_data() {
        QTest::addColumn<bool>("withRows");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("storedAfter");
        QTest::addColumn<QString>("speedLabel"); // "0 bit" when the handler ran for entry 0

        QTest::newRow("no rows, nothing stored") << false << kAbsent << -1 << kAbsent << "";
        QTest::newRow("no rows, stored kept") << false << " 5" << -1 << " 5"
                                              << "";
        QTest::newRow("nothing stored: nothing current") << true << kAbsent << -1 << kAbsent << "";
        QTest::newRow("stored 0 not written") << true << "0" << -1 << "0"
                                              << "";
        QTest::newRow("stored first") << true << " 2" << 0 << " 2"
                                      << "0 bit";
        QTest::newRow("stored third") << true << " 7" << 2 << " 7"
                                      << "";
        QTest::newRow("stored second, plain form rewritten") << true << "3" << 1 << " 3"
                                                             << "";
        QTest::newRow("stored unknown kept") << true << " 9" << -1 << " 9"
                                             << "";
        QTest::newRow("negative stored kept") << true << "-4" << -1 << "-4"
                                              << "";
        QTest::newRow("not a number: none, left as is") << true << "abc" << -1 << "abc"
                                                        << "";
        QTest::newRow("out of range: none, left as is")
            << true << "99999999999" << -1 << "99999999999"
            << "";
    }
    void fill() {
        QFETCH(bool, withRows);
        QFETCH(QString, stored);
        QFETCH(int, current);
        QFETCH(QString, storedAfter);
        QFETCH(QString, speedLabel);

        TestPlatform env;
        if (withRows)
            addStandardTable(env.interfaces);
        store(stored);
        frmMain w(env.platform());
        w.enumerateAdapters();

        QCOMPARE(list(w)->currentIndex(), current);
        QCOMPARE(storedAdapter(), storedAfter);
        if (withRows) {
            QCOMPARE(entries(w), QStringList({"127.0.0.1: lo", "10.0.0.5: eth0", ": wlan0"}));
            QCOMPARE(indexes(w), QList<qint32>({2, 3, 7}));
        } else {
            QVERIFY(entries(w).isEmpty());
            QCOMPARE(indexes(w), QList<qint32>({0}));
        }
        // The selection raised inside the fill finds entry 0's index not yet
        // recorded (it shows index 0) and does nothing for later entries.
        QCOMPARE(w.selectedAdapter, 0);
        QCOMPARE(label(w, "lblInfoAdapterSpeed")->text(), speedLabel);
        QCOMPARE(label(w, "lblInfoAdapterName")->text(), QString());
        QVERIFY(env.messages.shown.empty());
    }

    // Qt would make the first entry current and signal it; neither may
    // happen: the handler would store that interface as the user's choice.
    void fillSelectsNothingByItself() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        frmMain w(env.platform());
        QSignalSpy changes(list(w), &QComboBox::currentIndexChanged);
        w.enumerateAdapters();
        QCOMPARE(changes.count(), 0);
        QCOMPARE(env.interfaces.rowQueries, 0);
        QVERIFY(!env.settingsFileExists());
    }

    void secondFillKeepsEntriesAndIndexesInStep() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        frmMain w(env.platform());
        w.enumerateAdapters();
        env.interfaces.rows.pop_back();
        w.enumerateAdapters();
        QCOMPARE(entries(w), QStringList({"127.0.0.1: lo", "10.0.0.5: eth0"}));
        QCOMPARE(indexes(w), QList<qint32>({2, 3}));
        QCOMPARE(list(w)->currentIndex(), -1);
    }

    void notSupported() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        env.interfaces.tableResult = TableResult::NotSupported;
        store(QStringLiteral("2"));
        frmMain w(env.platform());
        w.enumerateAdapters();

        QCOMPARE(env.messages.shown.size(), size_t(1));
        QCOMPARE(env.messages.shown[0].text,
                 QStringLiteral("IP Helper is not supported by this system."));
        QCOMPARE(env.messages.shown[0].title, QStringLiteral("Zarn Bandwidth"));
        QCOMPARE(env.messages.shown[0].icon, MessageBoxes::Icon::None);
        QVERIFY(entries(w).isEmpty());
        QCOMPARE(indexes(w), QList<qint32>({0}));
        QCOMPARE(storedAdapter(), QStringLiteral("2")); // not rewritten as " 2"
    }

    void tableReadFails() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        env.interfaces.tableResult = TableResult::Failed;
        store(QStringLiteral("2"));
        frmMain w(env.platform());
        w.enumerateAdapters();

        QVERIFY(env.messages.shown.empty());
        QVERIFY(entries(w).isEmpty());
        QCOMPARE(indexes(w), QList<qint32>({0}));
        QCOMPARE(storedAdapter(), QStringLiteral(" 2"));
    }

    void entryTexts_data() {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QList<quint32>>("addresses");
        QTest::addColumn<bool>("addressesReadable");
        QTest::addColumn<QString>("entry");
        QTest::newRow("lower of two addresses")
            << "eth0" << QList<quint32>{0x0AC80009u, 0x0AC80002u} << true << "10.200.0.2: eth0";
        QTest::newRow("trimmed") << "  eth0  " << QList<quint32>{0x0A000001u} << true
                                 << "10.0.0.1: eth0";
        QTest::newRow("address table unreadable")
            << "eth0" << QList<quint32>{0x0A000001u} << false << ": eth0";
    }
    void entryTexts() {
        QFETCH(QString, description);
        QFETCH(QList<quint32>, addresses);
        QFETCH(bool, addressesReadable);
        QFETCH(QString, entry);

        TestPlatform env;
        env.interfaces.add(4, QStringLiteral("other"));
        env.interfaces.add(5, description);
        env.interfaces.addresses.push_back({0x01020304u, 4}); // another interface's
        for (quint32 a : addresses)
            env.interfaces.addresses.push_back({a, 5});
        env.interfaces.addressesReadable = addressesReadable;
        frmMain w(env.platform());
        w.enumerateAdapters();

        QCOMPARE(entries(w).value(1), entry);
        // The entry agrees with a lookup of its own.
        QCOMPARE(entry.section(QStringLiteral(": "), 0, 0), w.lookupIpAddress(5));
    }

    void details_data() {
        QTest::addColumn<QString>("description");
        QTest::addColumn<quint32>("type");
        QTest::addColumn<quint64>("speed");
        QTest::addColumn<QList<quint32>>("addresses");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("speedText");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("address");
        const QString en = QStringLiteral("en_US");
        const QList<quint32> one{0x0A000005u};

        QTest::newRow("ethernet") << "eth0" << 6u << Q_UINT64_C(100000000) << one << en << "eth0"
                                  << "100 mbit"
                                  << "Ethernet"
                                  << "10.0.0.5";
        QTest::newRow("name keeps its spaces")
            << "  eth0 " << 6u << Q_UINT64_C(100000000) << one << en << "  eth0 "
            << "100 mbit"
            << "Ethernet"
            << "10.0.0.5";
        QTest::newRow("name is not markup")
            << "<b>x</b>" << 1u << Q_UINT64_C(1000) << one << en << "<b>x</b>"
            << "1 kbit"
            << "Other"
            << "10.0.0.5";
        QTest::newRow("loopback") << "lo" << 24u << Q_UINT64_C(0) << QList<quint32>{0x7F000001u}
                                  << en << "lo"
                                  << "0 bit"
                                  << "Loopback"
                                  << "127.0.0.1";
        QTest::newRow("wireless keeps the old type")
            << "wlan0" << 71u << Q_UINT64_C(54000000) << one << en << "wlan0"
            << "54 mbit"
            << "Before"
            << "10.0.0.5";
        QTest::newRow("no address")
            << "eth1" << 6u << Q_UINT64_C(1000000000) << QList<quint32>{} << en << "eth1"
            << "1000 mbit"
            << "Ethernet"
            << "";
        QTest::newRow("lower of two") << "eth1" << 6u << Q_UINT64_C(10000000000)
                                      << QList<quint32>{0x0A000009u, 0x0A000002u} << en << "eth1"
                                      << "10000 mbit"
                                      << "Ethernet"
                                      << "10.0.0.2";
        QTest::newRow("T1, German") << "ppp0" << 23u << Q_UINT64_C(1544000) << one << "de_DE"
                                    << "ppp0"
                                    << "1,544 mbit"
                                    << "PPP"
                                    << "10.0.0.5";
    }
    void details() {
        QFETCH(QString, description);
        QFETCH(quint32, type);
        QFETCH(quint64, speed);
        QFETCH(QList<quint32>, addresses);
        QFETCH(QString, locale);
        QFETCH(QString, name);
        QFETCH(QString, speedText);
        QFETCH(QString, typeText);
        QFETCH(QString, address);

        const QLocale saved;
        QLocale::setDefault(QLocale(locale));
        TestPlatform env;
        env.interfaces.add(4, QStringLiteral("lo"), 24, 0);
        env.interfaces.add(5, description, type, speed);
        for (quint32 a : addresses)
            env.interfaces.addresses.push_back({a, 5});
        frmMain w(env.platform());
        w.enumerateAdapters();
        label(w, "lblInfoAdapterType")->setText(QStringLiteral("Before"));
        const int queries = env.interfaces.rowQueries;

        list(w)->setCurrentIndex(1); // as the user picks it
        QLocale::setDefault(saved);

        QCOMPARE(env.interfaces.rowQueries - queries, 1);
        QCOMPARE(w.selectedAdapter, 5);
        QCOMPARE(storedAdapter(), QStringLiteral(" 5"));
        QCOMPARE(label(w, "lblInfoAdapterName")->text(), name);
        QCOMPARE(label(w, "lblInfoAdapterName")->textFormat(), Qt::PlainText);
        QCOMPARE(label(w, "lblInfoAdapterSpeed")->text(), speedText);
        QCOMPARE(label(w, "lblInfoAdapterType")->text(), typeText);
        QCOMPARE(label(w, "lblInfoIPAddress")->text(), address);
    }

    // The interface went away after the list was built: an empty row is
    // shown, the choice is stored all the same.
    void vanishedInterface() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        frmMain w(env.platform());
        w.enumerateAdapters();
        list(w)->setCurrentIndex(0);
        QCOMPARE(label(w, "lblInfoAdapterType")->text(), QStringLiteral("Loopback"));

        env.interfaces.rows.erase(env.interfaces.rows.begin() + 1); // eth0, index 3
        list(w)->setCurrentIndex(1);

        QCOMPARE(w.selectedAdapter, 3);
        QCOMPARE(storedAdapter(), QStringLiteral(" 3"));
        QCOMPARE(label(w, "lblInfoAdapterName")->text(), QString());
        QCOMPARE(label(w, "lblInfoAdapterSpeed")->text(), QStringLiteral("0 bit"));
        QCOMPARE(label(w, "lblInfoAdapterType")->text(), QStringLiteral("Loopback"));
        QCOMPARE(label(w, "lblInfoIPAddress")->text(), QStringLiteral("10.0.0.5"));
    }

    // Every run stores the choice, even when it did not change.
    void storesOnEveryRun() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        store(QStringLiteral(" 7"));
        frmMain w(env.platform());
        w.enumerateAdapters();
        store(QStringLiteral("junk"));
        w.cmdAdapters_Click();
        QCOMPARE(storedAdapter(), QStringLiteral(" 7"));
        QCOMPARE(w.selectedAdapter, 7);
        QCOMPARE(label(w, "lblInfoAdapterName")->text(), QStringLiteral("wlan0"));
    }

    void noCurrentEntryChangesNothing() {
        TestPlatform env;
        addStandardTable(env.interfaces);
        frmMain w(env.platform());
        w.enumerateAdapters();
        w.selectedAdapter = 3;
        w.cmdAdapters_Click();
        QCOMPARE(w.selectedAdapter, 3);
        QVERIFY(!env.settingsFileExists());
        QCOMPARE(label(w, "lblInfoAdapterSpeed")->text(), QString());
        QCOMPARE(env.interfaces.rowQueries, 0);
    }
};

QTEST_MAIN(AdapterListTest)
#include "test_adapter_list.moc"
