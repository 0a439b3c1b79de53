#include "adapters/AdapterText.h"
#include "support/Harness.h"

#include <QComboBox>
#include <algorithm>

// The adapter texts, and the adapter list of the main window over the fake
// interface table: the fill at start-up, the refresh when the system reports
// a change, and the details of the chosen interface.
namespace {

const QString kAdapter = QStringLiteral("Adapter");
const QString kAdapterName = QStringLiteral("AdapterName");
const QString kMarker = QStringLiteral("marker");
const QString kUntouched = kMarker + u'/' + kMarker;
const char *const kStandard = "127.0.0.1: lo|10.0.0.5: eth0|: wlan0 > 2 3 7";

// Both settings of the choice, as "Adapter/AdapterName".
QString choice() {
    return stored(kAdapter) + u'/' + stored(kAdapterName);
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
    const auto drop = [&](qint32 index) {
        std::erase_if(s.rows, [&](const InterfaceRow &r) { return r.index == index; });
    };
    if (change == u"add tun0 first") {
        s.add(9, QStringLiteral("tun0"), 131, 0);
        std::rotate(s.rows.begin(), s.rows.end() - 1, s.rows.end());
    } else if (change == u"remove eth0") {
        drop(3);
    } else if (change == u"eth0 anew as 11") {
        drop(3);
        s.add(11, QStringLiteral("eth0"));
    } else if (change == u"eth0 renamed lan0") {
        s.find(3)->description = QStringLiteral("lan0");
        s.find(3)->name = "lan0";
    } else if (change == u"eth0 new address") {
        s.addresses = {{0x7F000001u, 2}, {0x0A000006u, 3}};
    } else {
        QCOMPARE(change, QStringLiteral("table fails"));
        drop(7);
        s.tableResult = TableResult::Failed;
    }
}

} // namespace

class AdaptersTest : public QObject {
    Q_OBJECT
private slots:
    void speedText_data() {
        const auto r = table<quint64, QString, QString>({"bits", "locale", "expected"});
        r("999", 999, "en_US", "999 bit");
        r("1000", 1000, "en_US", "1 kbit");
        r("999999", 999999, "en_US", "999.999 kbit");
        r("1e6", 1000000, "en_US", "1 mbit");
        r("10G no grouping", 10000000000, "en_US", "10000 mbit");
        r("rounded to 15 digits", 18446744073709551615u, "en_US", "18446744073709.6 mbit");
        r("de T1", 1544000, "de_DE", "1,544 mbit");
    }
    void speedText() {
        QTEST(AdapterText::speedText(cell<quint64>("bits"), QLocale(cell<QString>("locale"))),
              "expected");
    }

    // The kernel's link type to the interface-type code, and the code to the
    // name shown (none: the label stays as it was). Link type 0: the code alone.
    void interfaceType_data() {
        const auto r =
            table<quint32, bool, quint32, QString>({"linkType", "wireless", "code", "name"});
        r("ether", 1, false, 6, "Ethernet");
        r("wifi", 1, true, 71, "");
        r("wireless flag only counts for ether", 772, true, 24, "Loopback");
        r("ppp", 512, false, 23, "PPP");
        r("cslip", 257, false, 28, "SLIP");
        r("tun/wireguard", 65534, false, 131, "");
        r("anything else", 32, false, 1, "Other");
        r("token ring", 0, false, 9, "TokenRing");
        r("FDDI", 0, false, 15, "FDDI");
    }
    void interfaceType() {
        if (const quint32 linkType = cell<quint32>("linkType"))
            QTEST(AdapterText::interfaceTypeForLinkType(linkType, cell<bool>("wireless")), "code");
        QTEST(AdapterText::typeName(cell<quint32>("code")).value_or(QString()), "name");
    }

    void entryText_data() {
        const auto r = table<QString, QString, QString>({"address", "description", "expected"});
        r("spaces trimmed", "10.0.0.1", "  eth0  ", "10.0.0.1: eth0");
        r("inner spaces kept", "", " my link ", ": my link");
        r("only spaces are trimmed", "", "\teth0", ": \teth0");
        r("spaces before NUL", "", QString::fromUtf8(" eth0 \0x", 8), ": eth0");
    }
    void entryText() {
        QTEST(AdapterText::entryText(cell<QString>("address"), cell<QString>("description")),
              "expected");
    }

    void addressOf_data() {
        const auto r = table<qint32, QString>({"index", "expected"});
        r("lowest of two, table out of order", 3, "10.200.0.2");
        r("none", 4, "");
        r("index 0 is nobody", 0, "");
    }
    void addressOf() {
        const std::vector<AddressRow> rows = {{0x0AC80009u, 3}, {0x0AC80002u, 3}, {0x0AC80001u, 2}};
        QTEST(AdapterText::addressOf(rows, cell<qint32>("index")), "expected");
    }

    void fill_data() {
        const auto r = table<bool, int, QString, int, QString, QString>(
            {"withRows", "table", "stored", "current", "storedAfter", "speedLabel"});
        const int ok = int(TableResult::Ok), failed = int(TableResult::Failed);
        // speedLabel "0 bit": the handler ran for entry 0 (its index not yet recorded).
        r("no rows, stored kept", false, ok, " 5", -1, " 5", "");
        r("nothing stored: nothing current", true, ok, kAbsent, -1, kAbsent, "");
        r("stored 0 not written", true, ok, "0", -1, "0", "");
        r("stored first", true, ok, " 2", 0, " 2", "0 bit");
        r("stored second, plain form rewritten", true, ok, "3", 1, " 3", "");
        r("stored unknown kept", true, ok, " 9", -1, " 9", "");
        r("not a number: none, left as is", true, ok, "abc", -1, "abc", "");
        r("table read fails: rewritten all the same", true, failed, "2", -1, " 2", "");
    }
    void fill() {
        const bool withRows = cell<bool>("withRows");
        const int table = cell<int>("table");
        const QString stored = cell<QString>("stored");
        ListRig r(withRows, stored);
        r.env.interfaces.tableResult = TableResult(table);
        QSignalSpy changes(r.list(), &QComboBox::currentIndexChanged);
        r.w.enumerateAdapters();
        QTEST(r.list()->currentIndex(), "current");
        QTEST(::stored(kAdapter), "storedAfter");
        const bool filled = withRows && table == int(TableResult::Ok);
        QCOMPARE(r.filled(), filled ? QString::fromLatin1(kStandard) : QStringLiteral(" > 0"));
        // Qt would make the first entry current and signal it: the handler
        // would store that interface as the user's choice.
        QCOMPARE(changes.count(), r.list()->currentIndex() == -1 ? 0 : 1);
        QCOMPARE(r.w.selectedAdapter, 0);
        QTEST(r.text("lblInfoAdapterSpeed"), "speedLabel");
        if (stored == kAbsent)
            QVERIFY(!r.env.settingsFileExists());
        // A second fill keeps the entries and the indexes in step.
        if (withRows)
            r.env.interfaces.rows.erase(r.env.interfaces.rows.begin());
        r.env.interfaces.addressesReadable = false; // every entry goes without an address
        r.w.enumerateAdapters();
        QCOMPARE(r.filled(),
                 filled ? QStringLiteral(": eth0|: wlan0 > 3 7") : QStringLiteral(" > 0"));
    }

    void notSupported() {
        ListRig r(true, QStringLiteral("2"));
        r.env.interfaces.tableResult = TableResult::NotSupported;
        r.w.enumerateAdapters();
        QCOMPARE(r.env.messages.shown.size(), size_t(1));
        QCOMPARE(r.env.messages.shown[0].text,
                 QStringLiteral("IP Helper is not supported by this system."));
        QCOMPARE(r.filled(), QStringLiteral(" > 0"));
        QCOMPARE(stored(kAdapter), QStringLiteral("2")); // not rewritten as " 2"
    }

    // The system reports changes: the list is read again by the fill's rules.
    // The selection stays on its interface, by index, or by name once the
    // index is gone; the handler runs (and stores the choice) only when that
    // interface itself changed, and the sampler starts afresh when it is
    // another link. No entry becomes current by itself.
    void refresh_data() {
        const auto r = table<QString, QString, QString, int, QString, int, bool>(
            {"selected", "changes", "filled", "current", "choice", "selectedAfter", "fresh"});
        r("a link comes first", "eth0", "add tun0 first",
          ": tun0|127.0.0.1: lo|10.0.0.5: eth0|: wlan0 > 9 2 3 7", 2, kUntouched, 3, false);
        r("the selected link goes", "eth0", "remove eth0", "127.0.0.1: lo|: wlan0 > 2 7", -1,
          kUntouched, 3, false);
        r("made anew under another index", "eth0", "eth0 anew as 11",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 11", 2, " 11/eth0", 11, true);
        r("gone, then back under another index", "eth0", "remove eth0;eth0 anew as 11",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 11", 2, " 11/eth0", 11, true);
        r("renamed", "eth0", "eth0 renamed lan0", "127.0.0.1: lo|10.0.0.5: lan0|: wlan0 > 2 3 7", 1,
          " 3/lan0", 3, false);
        r("new address", "eth0", "eth0 new address", "127.0.0.1: lo|10.0.0.6: eth0|: wlan0 > 2 3 7",
          1, " 3/eth0", 3, false);
        r("table unreadable: left as it was", "eth0", "table fails", kStandard, 1, kUntouched, 3,
          false);
        r("nothing selected: nothing becomes current", "", "add tun0 first;eth0 anew as 11",
          ": tun0|127.0.0.1: lo|: wlan0|: eth0 > 9 2 7 11", -1, kUntouched, 0, false);
    }
    void refresh() {
        const QString selected = cell<QString>("selected"), changes = cell<QString>("changes");
        ListRig r;
        r.w.enumerateAdapters();
        if (!selected.isEmpty())
            r.list()->setCurrentIndex(r.list()->findText(selected, Qt::MatchEndsWith));
        r.w.trackedAdapter = QStringLiteral("tracked"); // "0" only if the sampler must start afresh
        store(kAdapter, kMarker);
        store(kAdapterName, kMarker);
        QSignalSpy handler(r.list(), &QComboBox::currentIndexChanged);
        for (const QString &change : changes.split(u';')) {
            apply(r.env.interfaces, change);
            r.env.interfaces.announce();
        }
        QTEST(r.filled(), "filled");
        QTEST(r.list()->currentIndex(), "current");
        QTEST(choice(), "choice");
        QTEST(r.w.selectedAdapter, "selectedAfter");
        QTEST(r.w.trackedAdapter == u"0", "fresh");
        QCOMPARE(handler.count(), choice() == kUntouched ? 0 : 1);
        if (changes == u"eth0 new address")
            QCOMPARE(r.text("lblInfoIPAddress"), QStringLiteral("10.0.0.6"));
    }

    // Start-up with the name stored beside the index: the name decides when
    // the index is gone or now names another interface. An interface of the
    // stored name that comes later is taken up then.
    void startUpByName_data() {
        const auto r = table<QString, QString, int, qint32, QString, qint32>(
            {"index", "name", "current", "selected", "choice", "selectedOnceTun0Came"});
        r("old settings: the index alone", " 3", kAbsent, 1, 3, " 3/eth0", 3);
        r("index names another: the name wins", " 3", "wlan0", 2, 7, " 7/wlan0", 7);
        r("index gone: the name wins", " 9", "eth0", 1, 3, " 3/eth0", 3);
        r("name not UTF-8", " 9", "v%E9A", 3, 12, " 12/v%E9A", 12);
        r("index names another, name nowhere: none", " 3", "tun0", -1, 0, " 3/tun0", 13);
        r("index gone, name nowhere: the index", " 9", "tun0", -1, 9, " 9/tun0", 13);
    }
    void startUpByName() {
        ListRig r(true, cell<QString>("index"));
        InterfaceRow &odd = r.env.interfaces.add(12, QString());
        odd.name = QByteArray("v\xe9"
                              "A");
        odd.description = QString::fromUtf8(odd.name);
        store(kAdapterName, cell<QString>("name"));
        r.w.Form_Load();
        r.w.tmrAdapterUpdate->stop();
        QTEST(r.list()->currentIndex(), "current");
        QTEST(r.w.selectedAdapter, "selected");
        QTEST(choice(), "choice");
        r.env.interfaces.add(13, QStringLiteral("tun0"), 131, 0);
        r.env.interfaces.announce();
        QTEST(r.w.selectedAdapter, "selectedOnceTun0Came");
    }

    // The user picks an interface: one row query, the choice stored, the
    // details shown as plain text in the user's locale.
    void details_data() {
        const auto r = table<QString, quint32, quint64, bool, QString, QString>(
            {"description", "type", "speed", "german", "speedText", "typeText"});
        r("name keeps its spaces, not markup", " <b>x</b> ", 1, 1000, false, "1 kbit", "Other");
        r("wireless keeps the old type", "wlan0", 71, 54000000, false, "54 mbit", "Before");
        r("T1, German", "ppp0", 23, 1544000, true, "1,544 mbit", "PPP");
    }
    void details() {
        const QString description = cell<QString>("description");
        ListRig r(false);
        r.env.interfaces.add(4, QStringLiteral("lo"), 24, 0);
        r.env.interfaces.add(5, description, cell<quint32>("type"), cell<quint64>("speed"));
        r.env.interfaces.addresses = {{0x0A000009u, 5}, {0x0A000005u, 5}};
        r.w.enumerateAdapters();
        r.label("lblInfoAdapterType")->setText(QStringLiteral("Before"));
        const int queries = r.env.interfaces.rowQueries;
        if (cell<bool>("german"))
            QLocale::setDefault(QLocale(QLocale::German));
        r.list()->setCurrentIndex(1); // as the user picks it
        QLocale::setDefault(QLocale::c());
        QCOMPARE(r.env.interfaces.rowQueries - queries, 1);
        QCOMPARE(r.w.selectedAdapter, 5);
        QCOMPARE(stored(kAdapter), QStringLiteral(" 5"));
        QCOMPARE(r.text("lblInfoAdapterName"), description);
        QCOMPARE(r.label("lblInfoAdapterName")->textFormat(), Qt::PlainText);
        QTEST(r.text("lblInfoAdapterSpeed"), "speedText");
        QTEST(r.text("lblInfoAdapterType"), "typeText");
        QCOMPARE(r.text("lblInfoIPAddress"), QStringLiteral("10.0.0.5")); // the lower
    }

    // The interface went away after the list was built: an empty row is
    // shown, the choice is stored all the same. Every click stores the
    // choice, even when it did not change.
    void vanishedInterfaceAndClick() {
        ListRig r;
        r.w.enumerateAdapters();
        r.list()->setCurrentIndex(0);
        r.env.interfaces.rows.erase(r.env.interfaces.rows.begin() + 1); // eth0, index 3
        r.list()->setCurrentIndex(1);
        QCOMPARE(r.w.selectedAdapter, 3);
        QCOMPARE(r.text("lblInfoAdapterName"), QString());
        QCOMPARE(r.text("lblInfoAdapterSpeed"), QStringLiteral("0 bit"));
        QCOMPARE(r.text("lblInfoAdapterType"), QStringLiteral("Loopback"));
        QCOMPARE(r.text("lblInfoIPAddress"), QStringLiteral("10.0.0.5"));
        store(kAdapter, QStringLiteral("junk"));
        r.w.cmdAdapters_Click();
        QCOMPARE(stored(kAdapter), QStringLiteral(" 3"));
    }

    void clickWithoutEntryDoesNothing() {
        ListRig r;
        r.w.enumerateAdapters();
        r.w.selectedAdapter = 3;
        r.w.cmdAdapters_Click();
        QCOMPARE(r.w.selectedAdapter, 3);
        QVERIFY(!r.env.settingsFileExists());
        QCOMPARE(r.env.interfaces.rowQueries, 0);
    }
};

QTEST_MAIN(AdaptersTest)
#include "test_adapters.moc"
