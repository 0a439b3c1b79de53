#include "support/Harness.h"

#include <QComboBox>
#include <algorithm>

namespace {

const QString kAdapter = QStringLiteral("Adapter");
const QString kAdapterName = QStringLiteral("AdapterName");
const QString kMarker = QStringLiteral("marker");

// Both settings of the choice, as "Adapter/AdapterName".
QString choice() {
    return stored(kAdapter) + QLatin1Char('/') + stored(kAdapterName);
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
        return entries.join(QLatin1Char('|')) + QStringLiteral(" > ") + indexes.join(u' ');
    }
};

const char *const kStandard = "127.0.0.1: lo|10.0.0.5: eth0|: wlan0 > 2 3 7";

// A change the system reports, applied to the fake's tables.
void apply(FakeInterfaceSource &s, const QString &change) {
    const auto drop = [&](qint32 index) {
        s.rows.erase(std::remove_if(s.rows.begin(), s.rows.end(),
                                    [&](const InterfaceRow &r) { return r.index == index; }),
                     s.rows.end());
    };
    if (change == QLatin1String("add tun0 first")) {
        s.add(9, QStringLiteral("tun0"), 131, 0);
        std::rotate(s.rows.begin(), s.rows.end() - 1, s.rows.end());
    } else if (change == QLatin1String("remove wlan0")) {
        drop(7);
    } else if (change == QLatin1String("remove eth0")) {
        drop(3);
    } else if (change == QLatin1String("eth0 anew as 11")) {
        drop(3);
        s.add(11, QStringLiteral("eth0"));
    } else if (change == QLatin1String("eth0 anew as PPP 12")) {
        drop(3);
        s.add(12, QStringLiteral("eth0"), 23, 0);
    } else if (change == QLatin1String("eth0 renamed lan0")) {
        s.find(3)->description = QStringLiteral("lan0");
        s.find(3)->name = "lan0";
    } else if (change == QLatin1String("eth0 new address")) {
        s.addresses = {{0x7F000001u, 2}, {0x0A000006u, 3}};
    } else if (change == QLatin1String("table fails")) {
        drop(7);
        s.tableResult = TableResult::Failed;
    } else {
        QVERIFY2(change == QLatin1String("none"), qPrintable(change));
    }
}

} // namespace

class AdapterListTest : public QObject {
    Q_OBJECT
private slots:
    void fill_data() {
        columns<bool, int, QString, int, QString, QString>(
            {"withRows", "table", "stored", "current", "storedAfter", "speedLabel"});
        const int ok = int(TableResult::Ok), failed = int(TableResult::Failed);
        // speedLabel "0 bit": the handler ran for entry 0 (its index not yet recorded).
        row("no rows, nothing stored", false, ok, kAbsent, -1, kAbsent, "");
        row("no rows, stored kept", false, ok, " 5", -1, " 5", "");
        row("nothing stored: nothing current", true, ok, kAbsent, -1, kAbsent, "");
        row("stored 0 not written", true, ok, "0", -1, "0", "");
        row("stored first", true, ok, " 2", 0, " 2", "0 bit");
        row("stored third", true, ok, " 7", 2, " 7", "");
        row("stored second, plain form rewritten", true, ok, "3", 1, " 3", "");
        row("stored unknown kept", true, ok, " 9", -1, " 9", "");
        row("negative stored kept", true, ok, "-4", -1, "-4", "");
        row("not a number: none, left as is", true, ok, "abc", -1, "abc", "");
        row("out of range: none, left as is", true, ok, "99999999999", -1, "99999999999", "");
        row("table read fails: rewritten all the same", true, failed, "2", -1, " 2", "");
    }
    void fill() {
        QFETCH(bool, withRows);
        QFETCH(int, table);
        QFETCH(QString, stored);
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
        QCOMPARE(r.text("lblInfoAdapterName"), QString());
        QVERIFY(r.env.messages.shown.empty());
        if (stored == kAbsent)
            QVERIFY(!r.env.settingsFileExists());
    }

    void secondFillKeepsEntriesAndIndexesInStep() {
        ListRig r;
        r.w.enumerateAdapters();
        r.env.interfaces.rows.pop_back();
        r.w.enumerateAdapters();
        QCOMPARE(r.filled(), QStringLiteral("127.0.0.1: lo|10.0.0.5: eth0 > 2 3"));
        QCOMPARE(r.w.lookupIpAddress(3), QStringLiteral("10.0.0.5"));
        QCOMPARE(r.list()->currentIndex(), -1);
    }

    // The system reports changes: the list is read again by the fill's rules.
    // The selection stays on its interface, by index, or by name once the
    // index is gone; the handler runs (and stores the choice) only when that
    // interface itself changed, and the sampler starts afresh when it is
    // another link. No entry becomes current by itself.
    void refresh_data() {
        const auto r = table<QString, QString, QString, int, QString, int, bool>(
            {"selected", "changes", "filled", "current", "choice", "selectedAfter", "fresh"});
        const QString m = kMarker + QLatin1Char('/') + kMarker;
        r("nothing changed", "eth0", "none", kStandard, 1, m, 3, false);
        r("a link comes first", "eth0", "add tun0 first",
          ": tun0|127.0.0.1: lo|10.0.0.5: eth0|: wlan0 > 9 2 3 7", 2, m, 3, false);
        r("another link goes", "eth0", "remove wlan0", "127.0.0.1: lo|10.0.0.5: eth0 > 2 3", 1, m,
          3, false);
        r("the selected link goes", "eth0", "remove eth0", "127.0.0.1: lo|: wlan0 > 2 7", -1, m, 3,
          false);
        r("made anew under another index", "eth0", "eth0 anew as 11",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 11", 2, " 11/eth0", 11, true);
        r("gone, then back under another index", "eth0", "remove eth0;eth0 anew as 11",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 11", 2, " 11/eth0", 11, true);
        r("name taken by another kind of link", "eth0", "eth0 anew as PPP 12",
          "127.0.0.1: lo|: wlan0|: eth0 > 2 7 12", 2, " 12/eth0", 12, true);
        r("renamed", "eth0", "eth0 renamed lan0", "127.0.0.1: lo|10.0.0.5: lan0|: wlan0 > 2 3 7", 1,
          " 3/lan0", 3, false);
        r("new address", "eth0", "eth0 new address", "127.0.0.1: lo|10.0.0.6: eth0|: wlan0 > 2 3 7",
          1, " 3/eth0", 3, false);
        r("table unreadable: left as it was", "eth0", "table fails", kStandard, 1, m, 3, false);
        r("nothing selected: nothing becomes current", "", "add tun0 first;eth0 anew as 11",
          ": tun0|127.0.0.1: lo|: wlan0|: eth0 > 9 2 7 11", -1, m, 0, false);
    }
    void refresh() {
        QFETCH(QString, selected);
        QFETCH(QString, changes);
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
        QTEST(r.w.trackedAdapter == QLatin1String("0"), "fresh");
        QCOMPARE(handler.count(), choice() == kMarker + QLatin1Char('/') + kMarker ? 0 : 1);
        if (changes == QLatin1String("eth0 anew as PPP 12"))
            QCOMPARE(r.text("lblInfoAdapterType"), QStringLiteral("PPP"));
        if (changes == QLatin1String("eth0 new address"))
            QCOMPARE(r.text("lblInfoIPAddress"), QStringLiteral("10.0.0.6"));
    }

    // Start-up with the name stored beside the index: the name decides when
    // the index is gone or now names another interface. An interface of the
    // stored name that comes later is taken up then.
    void startUpByName_data() {
        const auto r = table<QString, QString, int, qint32, QString, qint32>(
            {"index", "name", "current", "selected", "choice", "selectedOnceTun0Came"});
        r("old settings: the index alone", " 3", kAbsent, 1, 3, " 3/eth0", 3);
        r("index and name agree", " 3", "eth0", 1, 3, " 3/eth0", 3);
        r("index names another: the name wins", " 3", "wlan0", 2, 7, " 7/wlan0", 7);
        r("index gone: the name wins", " 9", "eth0", 1, 3, " 3/eth0", 3);
        r("name not UTF-8", " 9", "v%E9A", 3, 12, " 12/v%E9A", 12);
        r("index names another, name nowhere: none", " 3", "tun0", -1, 0, " 3/tun0", 13);
        r("index gone, name nowhere: the index", " 9", "tun0", -1, 9, " 9/tun0", 13);
    }
    void startUpByName() {
        QFETCH(QString, index);
        QFETCH(QString, name);
        ListRig r(true, index);
        InterfaceRow &odd = r.env.interfaces.add(12, QString());
        odd.name = QByteArray("v\xe9"
                              "A");
        odd.description = QString::fromUtf8(odd.name);
        store(kAdapterName, name);
        r.w.Form_Load();
        r.w.tmrAdapterUpdate->stop();
        QTEST(r.list()->currentIndex(), "current");
        QTEST(r.w.selectedAdapter, "selected");
        QTEST(choice(), "choice");

        r.env.interfaces.add(13, QStringLiteral("tun0"), 131, 0);
        r.env.interfaces.announce();
        QTEST(r.w.selectedAdapter, "selectedOnceTun0Came");
        if (name == QLatin1String("v%E9A"))
            QCOMPARE(r.text("lblInfoAdapterName"), QStringLiteral("v\uFFFDA"));
    }

    void notSupported() {
        ListRig r(true, QStringLiteral("2"));
        r.env.interfaces.tableResult = TableResult::NotSupported;
        r.w.enumerateAdapters();
        QCOMPARE(r.env.messages.shown.size(), size_t(1));
        QCOMPARE(r.env.messages.shown[0].text,
                 QStringLiteral("IP Helper is not supported by this system."));
        QCOMPARE(r.env.messages.shown[0].title, QStringLiteral("Zarn Bandwidth"));
        QCOMPARE(r.env.messages.shown[0].icon, MessageBoxes::Icon::None);
        QCOMPARE(r.filled(), QStringLiteral(" > 0"));
        QCOMPARE(stored(kAdapter), QStringLiteral("2")); // not rewritten as " 2"
    }

    // The address table is read once for the fill; unreadable, every entry
    // goes without an address.
    void addressTableUnreadable() {
        ListRig r;
        r.env.interfaces.addressesReadable = false;
        r.w.enumerateAdapters();
        QCOMPARE(r.filled(), QStringLiteral(": lo|: eth0|: wlan0 > 2 3 7"));
        QCOMPARE(r.w.lookupIpAddress(3), QString());
    }

    void details_data() {
        const auto r = table<QString, quint32, quint64, bool, QString, QString>(
            {"description", "type", "speed", "german", "speedText", "typeText"});
        r("ethernet", "eth0", 6, 100000000, false, "100 mbit", "Ethernet");
        r("name keeps its spaces, not markup", " <b>x</b> ", 1, 1000, false, "1 kbit", "Other");
        r("wireless keeps the old type", "wlan0", 71, 54000000, false, "54 mbit", "Before");
        r("T1, German", "ppp0", 23, 1544000, true, "1,544 mbit", "PPP");
    }
    void details() {
        QFETCH(QString, description);
        QFETCH(quint32, type);
        QFETCH(quint64, speed);
        QFETCH(bool, german);
        ListRig r(false);
        r.env.interfaces.add(4, QStringLiteral("lo"), 24, 0);
        r.env.interfaces.add(5, description, type, speed);
        r.env.interfaces.addresses = {{0x0A000009u, 5}, {0x0A000005u, 5}};
        r.w.enumerateAdapters();
        r.label("lblInfoAdapterType")->setText(QStringLiteral("Before"));
        const int queries = r.env.interfaces.rowQueries;

        if (german)
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
    // shown, the choice is stored all the same.
    void vanishedInterface() {
        ListRig r;
        r.w.enumerateAdapters();
        r.list()->setCurrentIndex(0);
        QCOMPARE(r.text("lblInfoAdapterType"), QStringLiteral("Loopback"));
        r.env.interfaces.rows.erase(r.env.interfaces.rows.begin() + 1); // eth0, index 3
        r.list()->setCurrentIndex(1);
        QCOMPARE(r.w.selectedAdapter, 3);
        QCOMPARE(stored(kAdapter), QStringLiteral(" 3"));
        QCOMPARE(r.text("lblInfoAdapterName"), QString());
        QCOMPARE(r.text("lblInfoAdapterSpeed"), QStringLiteral("0 bit"));
        QCOMPARE(r.text("lblInfoAdapterType"), QStringLiteral("Loopback"));
        QCOMPARE(r.text("lblInfoIPAddress"), QStringLiteral("10.0.0.5"));
    }

    // Every run stores the choice, even when it did not change; with no
    // current entry nothing happens at all.
    void clickWithAndWithoutEntry() {
        ListRig r(true, QStringLiteral(" 7"));
        r.w.enumerateAdapters();
        store(kAdapter, QStringLiteral("junk"));
        r.w.cmdAdapters_Click();
        QCOMPARE(stored(kAdapter), QStringLiteral(" 7"));
        QCOMPARE(r.w.selectedAdapter, 7);
        QCOMPARE(r.text("lblInfoAdapterName"), QStringLiteral("wlan0"));

        ListRig none;
        none.w.enumerateAdapters();
        none.w.selectedAdapter = 3;
        none.w.cmdAdapters_Click();
        QCOMPARE(none.w.selectedAdapter, 3);
        QVERIFY(!none.env.settingsFileExists());
        QCOMPARE(none.text("lblInfoAdapterSpeed"), QString());
        QCOMPARE(none.env.interfaces.rowQueries, 0);
    }
};

QTEST_MAIN(AdapterListTest)
#include "test_adapter_list.moc"
