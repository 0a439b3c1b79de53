#include "platform/windows/IpHelperInterfaceSource.h"
#include "platform/windows/RegistryAutostart.h"
#include "settings/Registry.h"
#include "support/Table.h"

#include <QSettings>
#include <QThread>
#include <QtTest>
#include <thread>
#include <vector>

namespace {

// --- fakes of the IP Helper calls; function pointers carry no state, so
// the fakes keep theirs here.

struct FakeRow {
    NET_IFINDEX index;
    IFTYPE type;
    ULONG64 speed, in, out;
    const wchar_t *description, *alias;
    bool filter;
};
std::vector<FakeRow> fakeRows;
DWORD fakeTableResult = NO_ERROR;
int tablesFreed = 0;

void fill(MIB_IF_ROW2 &row, const FakeRow &fake) {
    row = MIB_IF_ROW2{};
    row.InterfaceIndex = fake.index;
    row.Type = fake.type;
    row.TransmitLinkSpeed = fake.speed;
    row.ReceiveLinkSpeed = fake.speed;
    row.InOctets = fake.in;
    row.OutOctets = fake.out;
    wcsncpy(row.Description, fake.description, std::size(row.Description) - 1);
    wcsncpy(row.Alias, fake.alias, std::size(row.Alias) - 1);
    row.InterfaceAndOperStatusFlags.FilterInterface = fake.filter;
}

DWORD WINAPI fakeGetIfTable2(PMIB_IF_TABLE2 *table) {
    if (fakeTableResult != NO_ERROR)
        return fakeTableResult;
    const std::size_t bytes = sizeof(MIB_IF_TABLE2) + fakeRows.size() * sizeof(MIB_IF_ROW2);
    auto *t = static_cast<PMIB_IF_TABLE2>(::operator new(bytes));
    t->NumEntries = ULONG(fakeRows.size());
    for (std::size_t i = 0; i < fakeRows.size(); ++i)
        fill(t->Table[i], fakeRows[i]);
    *table = t;
    return NO_ERROR;
}

void WINAPI fakeFreeMibTable(PVOID table) {
    ++tablesFreed;
    ::operator delete(table);
}

DWORD WINAPI fakeGetIfEntry2(PMIB_IF_ROW2 row) {
    for (const FakeRow &fake : fakeRows)
        if (fake.index == row->InterfaceIndex) {
            fill(*row, fake);
            return NO_ERROR;
        }
    return ERROR_FILE_NOT_FOUND;
}

// The change notification: the registered callback, and a handle that is
// either a real-looking one or Wine's NULL.
PIPINTERFACE_CHANGE_CALLBACK registeredCallback = nullptr;
PVOID registeredContext = nullptr;
HANDLE handleToGive = reinterpret_cast<HANDLE>(0x5a);
std::vector<HANDLE> cancelled;

DWORD WINAPI fakeNotify(ADDRESS_FAMILY, PIPINTERFACE_CHANGE_CALLBACK callback, PVOID context,
                        BOOLEAN, HANDLE *handle) {
    registeredCallback = callback;
    registeredContext = context;
    *handle = handleToGive;
    return NO_ERROR;
}

DWORD WINAPI fakeCancel(HANDLE handle) {
    cancelled.push_back(handle);
    return NO_ERROR;
}

IpHelperApi fakeApi() {
    IpHelperApi api;
    api.getIfTable2 = fakeGetIfTable2;
    api.freeMibTable = fakeFreeMibTable;
    api.getIfEntry2 = fakeGetIfEntry2;
    api.notifyIpInterfaceChange = fakeNotify;
    api.cancelMibChangeNotify2 = fakeCancel;
    return api;
}

const ULONG64 k5GiB = 5ull << 30;

QString rowText(const InterfaceRow &r) {
    return QStringLiteral("%1 %2 %3 %4/%5 %6 [%7]")
        .arg(r.index)
        .arg(r.type)
        .arg(r.speed)
        .arg(r.inOctets)
        .arg(r.outOctets)
        .arg(r.description, QString::fromUtf8(r.name));
}

// A value straight from the registry, as another program would read it.
QString registryText(const wchar_t *key, const wchar_t *value) {
    wchar_t data[1024] = {};
    DWORD bytes = sizeof(data);
    DWORD type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_ANY, &type, data, &bytes) !=
        ERROR_SUCCESS)
        return QStringLiteral("<absent>");
    if (type != REG_SZ)
        return QStringLiteral("<type %1>").arg(type);
    return QString::fromWCharArray(data);
}

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kSettingsKey[] = L"Software\\ZarnDev\\Zarn Bandwidth";

} // namespace

class WindowsPlatformTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        fakeRows.clear();
        fakeTableResult = NO_ERROR;
        tablesFreed = 0;
        registeredCallback = nullptr;
        handleToGive = reinterpret_cast<HANDLE>(0x5a);
        cancelled.clear();
    }

    void interfaceTable_data() {
        const auto r = table<DWORD, QString, QString>({"result", "outcome", "rows"});
        r("rows in the system's order, filters left out", NO_ERROR, "ok",
          "9 6 1000000000 5368709120/7 Intel(R) Ethernet [Ethernet]|"
          "1 24 0 12/12 Software Loopback Interface 1 [Loopback Pseudo-Interface 1]|"
          "12 71 0 0/0 Wi-Fi Adapter [Wi-Fi]");
        r("not supported", ERROR_NOT_SUPPORTED, "not supported", "");
        r("other failure", ERROR_NOT_ENOUGH_MEMORY, "failed", "");
    }
    void interfaceTable() {
        QFETCH(DWORD, result);
        fakeRows = {
            {9, 6, 1000000000, k5GiB, 7, L"Intel(R) Ethernet", L"Ethernet", false},
            {10, 6, 1000000000, k5GiB, 7, L"Intel(R) Ethernet-WFP Native MAC Layer Filter",
             L"Ethernet-WFP", true},
            {1, 24, 0, 12, 12, L"Software Loopback Interface 1", L"Loopback Pseudo-Interface 1",
             false},
            // A disconnected card reports an unknown speed as all ones.
            {12, 71, ~0ull, 0, 0, L"Wi-Fi Adapter", L"Wi-Fi", false},
        };
        fakeTableResult = result;
        IpHelperInterfaceSource source(fakeApi());
        std::vector<InterfaceRow> rows{InterfaceRow{}};
        const TableResult outcome = source.interfaceTable(rows);
        QTEST(QString::fromLatin1(outcome == TableResult::Ok             ? "ok"
                                  : outcome == TableResult::NotSupported ? "not supported"
                                                                         : "failed"),
              "outcome");
        QStringList texts;
        for (const InterfaceRow &row : rows)
            texts << rowText(row);
        QTEST(texts.join(u'|'), "rows");
        QCOMPARE(tablesFreed, result == NO_ERROR ? 1 : 0);
    }

    // One row by index: every detail from one call; a missing interface or
    // index 0 leaves a row with the index only.
    void interfaceRow() {
        fakeRows = {{9, 6, 100000000, k5GiB, 3, L"Intel(R) Ethernet", L"Ethernet", false}};
        IpHelperInterfaceSource source(fakeApi());
        InterfaceRow row;
        QVERIFY(source.interfaceRow(9, row, InterfaceSource::Detail::Counters));
        QCOMPARE(rowText(row), QStringLiteral("9 6 100000000 5368709120/3 Intel(R) Ethernet "
                                              "[Ethernet]"));
        QCOMPARE(row.counterBits, 64);
        for (qint32 index : {4, 0, -3}) {
            row.description = QStringLiteral("stale");
            QVERIFY(!source.interfaceRow(index, row, InterfaceSource::Detail::Full));
            QCOMPARE(rowText(row), QStringLiteral("%1 0 0 0/0  []").arg(index));
        }
    }

    // The system calls back on threads of its own, often several times for
    // one change; the owner hears of it once, on its own thread, and never
    // after the source is gone.
    void changesReachTheOwnersThread() {
        IpHelperInterfaceSource source(fakeApi());
        QVERIFY(source.watchingChanges());
        QVERIFY(registeredCallback);
        QThread *seenOn = nullptr;
        int calls = 0;
        source.watch([&] {
            seenOn = QThread::currentThread();
            ++calls;
        });
        std::thread system([] {
            for (int i = 0; i < 3; ++i)
                registeredCallback(registeredContext, nullptr, MibParameterNotification);
        });
        system.join();
        QCOMPARE(calls, 0); // nothing runs on the system's thread
        QTRY_COMPARE(calls, 1);
        QCOMPARE(seenOn, QThread::currentThread());
        registeredCallback(registeredContext, nullptr, MibDeleteInstance);
        QTRY_COMPARE(calls, 2);
    }

    void cancelledOnDestruction() {
        int calls = 0;
        {
            IpHelperInterfaceSource source(fakeApi());
            source.watch([&] { ++calls; });
            registeredCallback(registeredContext, nullptr, MibAddInstance);
        } // the change queued above must not run on the destroyed source
        QCoreApplication::processEvents();
        QCOMPARE(calls, 0);
        QCOMPARE(cancelled, std::vector<HANDLE>{reinterpret_cast<HANDLE>(0x5a)});

        // Wine 8: success, no handle, never a call; nothing to cancel.
        handleToGive = nullptr;
        {
            IpHelperInterfaceSource source(fakeApi());
            QVERIFY(!source.watchingChanges());
        }
        QCOMPARE(cancelled.size(), std::size_t(1));
    }

    // Wine answers with the host's own interfaces: the loopback is there,
    // its row reads the same by index, and it owns 127.0.0.1.
    void realIpHelper() {
        IpHelperInterfaceSource source;
        std::vector<InterfaceRow> rows;
        QCOMPARE(int(source.interfaceTable(rows)), int(TableResult::Ok));
        const auto loopback = std::find_if(rows.begin(), rows.end(),
                                           [](const InterfaceRow &r) { return r.type == 24; });
        QVERIFY2(loopback != rows.end(), "no loopback interface listed");
        InterfaceRow row;
        QVERIFY(source.interfaceRow(loopback->index, row, InterfaceSource::Detail::Full));
        QCOMPARE(row.description, loopback->description);
        QVERIFY(row.inOctets >= loopback->inOctets);
        std::vector<AddressRow> addresses;
        QVERIFY(source.addressTable(addresses));
        QVERIFY(std::any_of(addresses.begin(), addresses.end(), [&](const AddressRow &a) {
            return a.address == 0x7F000001u && a.index == loopback->index;
        }));
    }

    // The entry in Wine's registry, read back as Windows would at logon.
    void runKeyRoundTrip() {
        RegistryAutostart autostart;
        autostart.disable();
        QVERIFY(!autostart.exists());
        autostart.disable(); // nothing to remove: harmless
        autostart.enable(QStringLiteral("C:/Program Files/Zarn/ZarnBandwidth.exe"));
        QVERIFY(autostart.exists());
        QCOMPARE(registryText(kRunKey, L"ZarnBandwidth"),
                 QStringLiteral("\"C:\\Program Files\\Zarn\\ZarnBandwidth.exe\" -startup"));
        autostart.enable(QStringLiteral("D:/Zarn/ZarnBandwidth.exe")); // moved: rewritten
        QCOMPARE(registryText(kRunKey, L"ZarnBandwidth"),
                 QStringLiteral("D:\\Zarn\\ZarnBandwidth.exe -startup"));
        autostart.disable();
        QVERIFY(!autostart.exists());
        QCOMPARE(registryText(kRunKey, L"ZarnBandwidth"), QStringLiteral("<absent>"));
    }

    // The settings are text values under the program's own key.
    void settingsKey() {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ZarnDev"),
                  QStringLiteral("Zarn Bandwidth"))
            .clear();
        QCOMPARE(Registry::readSetting(QStringLiteral("Adapter"), QStringLiteral("0")),
                 QStringLiteral("0"));
        Registry::writeSetting(QStringLiteral("Adapter"), QStringLiteral(" 5"));
        Registry::writeSetting(QStringLiteral("RedThreshold"), QStringLiteral("3500,80"));
        QCOMPARE(registryText(kSettingsKey, L"Adapter"), QStringLiteral(" 5"));
        QCOMPARE(registryText(kSettingsKey, L"RedThreshold"), QStringLiteral("3500,80"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Adapter"), QStringLiteral("0")),
                 QStringLiteral(" 5"));
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ZarnDev"),
                  QStringLiteral("Zarn Bandwidth"))
            .clear();
    }
};

QTEST_MAIN(WindowsPlatformTest)
#include "test_windows_platform.moc"
