// The Windows platform layer under Wine: IP Helper through fakes (Wine only
// stubs the change notification) and for real; Wine's registry.

#include "platform/windows/IpHelperInterfaceSource.h"
#include "platform/windows/RegistryAutostart.h"
#include "settings/Registry.h"
#include "support/Fakes.h"
#include "support/Table.h"

#include <QtTest>
#include <thread>

namespace {

// Fakes of the IP Helper calls, which keep their state here: function
// pointers carry none.
DWORD fakeTableResult = NO_ERROR;
int tablesFreed = 0;
PIPINTERFACE_CHANGE_CALLBACK registeredCallback = nullptr;
PVOID registeredContext = nullptr;
HANDLE handleToGive = nullptr;
std::vector<HANDLE> cancelled;

MIB_IF_ROW2 fakeRow(NET_IFINDEX index, IFTYPE type, ULONG64 speed, ULONG64 in, ULONG64 out,
                    const wchar_t *description, const wchar_t *alias, bool filter = false) {
    MIB_IF_ROW2 row{};
    row.InterfaceIndex = index;
    row.Type = type;
    row.TransmitLinkSpeed = row.ReceiveLinkSpeed = speed;
    row.InOctets = in;
    row.OutOctets = out;
    wcsncpy(row.Description, description, std::size(row.Description) - 1);
    wcsncpy(row.Alias, alias, std::size(row.Alias) - 1);
    row.InterfaceAndOperStatusFlags.FilterInterface = filter;
    return row;
}

const ULONG64 k5GiB = 5ull << 30;
std::vector<MIB_IF_ROW2> fakeRows = {
    fakeRow(9, 6, 1000000000, k5GiB, 7, L"Intel(R) Ethernet", L"Ethernet"),
    fakeRow(10, 6, 1000000000, k5GiB, 7, L"Intel(R) Ethernet-WFP Native MAC Layer Filter",
            L"Ethernet-WFP", true),
    fakeRow(1, 24, 0, 12, 12, L"Software Loopback Interface 1", L"Loopback Pseudo-Interface 1"),
    // A disconnected card reports an unknown speed as all ones.
    fakeRow(12, 71, ~0ull, 0, 0, L"Wi-Fi Adapter", L"Wi-Fi"),
};

DWORD WINAPI fakeGetIfTable2(PMIB_IF_TABLE2 *table) {
    if (fakeTableResult != NO_ERROR)
        return fakeTableResult;
    const std::size_t bytes = sizeof(MIB_IF_TABLE2) + fakeRows.size() * sizeof(MIB_IF_ROW2);
    auto *t = static_cast<PMIB_IF_TABLE2>(::operator new(bytes));
    t->NumEntries = ULONG(fakeRows.size());
    for (std::size_t i = 0; i < fakeRows.size(); ++i)
        t->Table[i] = fakeRows[i];
    *table = t;
    return NO_ERROR;
}

void WINAPI fakeFreeMibTable(PVOID table) {
    ++tablesFreed;
    ::operator delete(table);
}

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

const IpHelperApi kFakeApi{fakeGetIfTable2,        fakeFreeMibTable, ::GetIfEntry2,
                           ::GetAdaptersAddresses, fakeNotify,       fakeCancel};

QString rowText(const InterfaceRow &r) {
    return QString::asprintf("%d %u %llu %llu/%llu ", r.index, r.type, r.speed, r.inOctets,
                             r.outOctets) +
           r.description + " [" + QString::fromUtf8(r.name) + ']';
}

// A REG_SZ value straight from the registry, as another program would read it.
QString registryText(const wchar_t *key, const wchar_t *value) {
    wchar_t data[1024] = {};
    DWORD bytes = sizeof(data);
    const LSTATUS status =
        RegGetValueW(HKEY_CURRENT_USER, key, value, RRF_RT_REG_SZ, nullptr, data, &bytes);
    return status == ERROR_SUCCESS ? QString::fromWCharArray(data) : QStringLiteral("<no text>");
}

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

} // namespace

class WindowsPlatformTest : public QObject {
    Q_OBJECT
private slots:
    void interfaceTable_data() {
        const auto r = table<DWORD, int, QString>({"result", "outcome", "rows"});
        r("rows in the system's order, filters left out", NO_ERROR, int(TableResult::Ok),
          "9 6 1000000000 5368709120/7 Intel(R) Ethernet [Ethernet]|"
          "1 24 0 12/12 Software Loopback Interface 1 [Loopback Pseudo-Interface 1]|"
          "12 71 0 0/0 Wi-Fi Adapter [Wi-Fi]");
        r("not supported", ERROR_NOT_SUPPORTED, int(TableResult::NotSupported), "");
        r("other failure", ERROR_NOT_ENOUGH_MEMORY, int(TableResult::Failed), "");
    }
    void interfaceTable() {
        fakeTableResult = cell<DWORD>("result");
        tablesFreed = 0;
        IpHelperInterfaceSource source(kFakeApi);
        std::vector<InterfaceRow> rows{InterfaceRow{}};
        QTEST(int(source.interfaceTable(rows)), "outcome");
        QStringList texts;
        for (const InterfaceRow &row : rows)
            texts << rowText(row);
        QTEST(texts.join(u'|'), "rows");
        QCOMPARE(tablesFreed, fakeTableResult == NO_ERROR ? 1 : 0);
    }

    // The system calls back on threads of its own, often several times for
    // one change: the owner hears of it once, on its own thread, and never
    // after the source is gone, which cancels the notification. Wine 8 gives
    // success without a handle (and never calls back): nothing to cancel.
    void changes() {
        handleToGive = reinterpret_cast<HANDLE>(0x5a);
        QList<QThread *> calls; // the thread of each
        {
            IpHelperInterfaceSource source(kFakeApi);
            QVERIFY(source.watch([&] { calls << QThread::currentThread(); }));
            std::thread system([] {
                for (int i = 0; i < 3; ++i)
                    registeredCallback(registeredContext, nullptr, MibParameterNotification);
            });
            system.join();
            QVERIFY(calls.isEmpty()); // nothing runs on the system's thread
            QTRY_COMPARE(calls.size(), 1);
            QCOMPARE(calls[0], QThread::currentThread());
            registeredCallback(registeredContext, nullptr, MibDeleteInstance);
            QTRY_COMPARE(calls.size(), 2);
            registeredCallback(registeredContext, nullptr, MibAddInstance);
        }
        QCoreApplication::processEvents();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(cancelled, std::vector<HANDLE>{reinterpret_cast<HANDLE>(0x5a)});
        handleToGive = nullptr;
        QVERIFY(!IpHelperInterfaceSource(kFakeApi).watch([] {}));
        QCOMPARE(cancelled.size(), std::size_t(1));
    }

    // Wine answers with the host's own interfaces: the loopback is there,
    // its row reads the same by index, and it owns 127.0.0.1. A missing
    // interface leaves a row with the index only.
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
        QVERIFY(!source.interfaceRow(99999, row, InterfaceSource::Detail::Counters));
        QCOMPARE(rowText(row), QStringLiteral("99999 0 0 0/0  []"));
        std::vector<AddressRow> addresses;
        QVERIFY(source.addressTable(addresses));
        QVERIFY(std::any_of(addresses.begin(), addresses.end(), [&](const AddressRow &a) {
            return a.address == 0x7F000001u && a.index == loopback->index;
        }));
    }

    // The Run key's entry, read back as Windows would at logon; the settings,
    // text values under the program's own key, blanks kept.
    void registry() {
        RegistryAutostart autostart;
        autostart.disable();
        QVERIFY(!autostart.exists());
        autostart.enable(QStringLiteral("C:/Program Files/Zarn/ZarnBandwidth.exe"));
        QVERIFY(autostart.exists());
        QCOMPARE(registryText(kRunKey, L"ZarnBandwidth"),
                 QStringLiteral("\"C:\\Program Files\\Zarn\\ZarnBandwidth.exe\" -startup"));
        autostart.enable(QStringLiteral("D:/Zarn/ZarnBandwidth.exe")); // moved: rewritten
        QCOMPARE(registryText(kRunKey, L"ZarnBandwidth"),
                 QStringLiteral("D:\\Zarn\\ZarnBandwidth.exe -startup"));
        autostart.disable();
        QVERIFY(!autostart.exists());
        const TestPlatform clean; // the settings key emptied before and after
        Registry::writeSetting(QStringLiteral("Adapter"), QStringLiteral(" 5"));
        QCOMPARE(registryText(L"Software\\ZarnDev\\Zarn Bandwidth", L"Adapter"),
                 QStringLiteral(" 5"));
        QCOMPARE(Registry::readSetting(QStringLiteral("Adapter"), QStringLiteral("0")),
                 QStringLiteral(" 5"));
    }
};

QTEST_MAIN(WindowsPlatformTest)
#include "test_windows_platform.moc"
