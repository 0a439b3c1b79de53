#include "adapters/AdapterText.h"
#include "support/Harness.h"

#include <QComboBox>
#include <algorithm>

// The adapter texts, and the main window's adapter list over the fake interface table.
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
        return QStringLiteral("%1 %2 ").arg(list()->currentIndex()).arg(w.selectedAdapter) +
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

} // namespace

class AdaptersTest : public QObject {
    Q_OBJECT
private slots:
    // Each row's text is made here, compared in texts().
    void texts_data() {
        using namespace AdapterText;
        const auto r = table<QString, QString>({"got", "expected"});
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
            QVERIFY(!r.env.settingsFileExists());
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
        r.w.trackedAdapter = QStringLiteral("tracked"); // "0" only if the sampler must start afresh
        store(kAdapter, QStringLiteral("marker"));
        store(kAdapterName, QStringLiteral("marker"));
        QSignalSpy handler(r.list(), &QComboBox::currentIndexChanged);
        for (const QString &change : changes.split(u';')) {
            apply(r.env.interfaces, change);
            r.env.interfaces.announce();
        }
        QTEST(r.filled() + "; " + r.after() + (r.w.trackedAdapter == u"0" ? " fresh" : ""),
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

QTEST_MAIN(AdaptersTest)
#include "test_adapters.moc"
