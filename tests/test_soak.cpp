// A long run of the real tick against interfaces that misbehave the way real
// ones do: 32-bit counters wrap, 64-bit counters are reset, reads fail, and
// an interface vanishes and comes back with fresh counters. The window runs
// as after start-up, with the tray icon shown and animated and the mini
// window open. Every tick must leave sane labels, and the memory the process
// holds must stay flat once it has settled.
//
// ZARN_SOAK_TICKS sets the number of ticks (1,000,000 unless set; a shorter
// run suits valgrind). Under AddressSanitizer the million take some three
// minutes.
#include "monitor/RateText.h"
#include "support/Fakes.h"
#include "ui/frmMain.h"
#include "ui/frmMiniBandwidth.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <cstddef>
#include <cstdio>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define ZARN_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARN_SOAK_ASAN 1
#endif
#endif
#ifdef ZARN_SOAK_ASAN
// From the sanitizer runtime (GCC ships no header declaring it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr qint64 kDefaultTicks = 1000000;
#ifdef ZARN_SOAK_ASAN
constexpr const char *kHeldName = "live heap";
#else
constexpr const char *kHeldName = "resident";
#endif

// Resident set size in kB, from /proc/self/statm.
qint64 residentKb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// The memory the program holds, in kB. Under AddressSanitizer the resident
// size keeps growing for a long while as freed blocks sit in its quarantine
// (256 MB), so there the allocator's own count of live heap bytes is used.
qint64 heldKb() {
#ifdef ZARN_SOAK_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return residentKb();
#endif
}

// A small deterministic generator: the same run every time.
struct Random {
    quint64 state = 0x9E3779B97F4A7C15ull;
    quint64 next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    bool chance(quint64 perMillion) { return next() % 1000000 < perMillion; }
    quint64 below(quint64 n) { return next() % n; }
};

// Two interfaces whose true byte counts the soak drives. Index 2 has 64-bit
// counters that can be reset; index 3 shows its counters 32 bits wide, so
// they wrap every few dozen ticks.
class SoakSource final : public InterfaceSource {
public:
    struct Nic {
        qint32 index;
        int bits;
        QString name;
        quint64 in = 0; // true counts, before any narrowing to the counter width
        quint64 out = 0;
        bool present = true;
    };
    Nic nics[2] = {{2, 64, QStringLiteral("Soak Ethernet"), 5000000, 2000000, true},
                   {3, 32, QStringLiteral("Soak Wireless"), 4294000000u, 100, true}};
    bool failNext = false;

    Nic *find(qint32 index) {
        for (Nic &n : nics)
            if (n.index == index)
                return &n;
        return nullptr;
    }

    InterfaceRow rowOf(const Nic &n) const {
        InterfaceRow row;
        row.index = n.index;
        row.type = n.bits == 64 ? 6 : 71;
        row.speed = 1000000000;
        row.counterBits = n.bits;
        const quint64 mask = n.bits == 32 ? 0xFFFFFFFFull : ~0ull;
        row.inOctets = n.in & mask;
        row.outOctets = n.out & mask;
        row.description = n.name;
        return row;
    }

    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override {
        rows.clear();
        for (const Nic &n : nics)
            if (n.present)
                rows.push_back(rowOf(n));
        return TableResult::Ok;
    }
    bool interfaceRow(qint32 index, InterfaceRow &row, Detail) override {
        const Nic *n = find(index);
        const bool fail = failNext;
        failNext = false;
        if (!n || !n->present || fail) {
            row = InterfaceRow{};
            row.index = index;
            return false;
        }
        row = rowOf(*n);
        return true;
    }
    bool addressTable(std::vector<AddressRow> &rows) override {
        rows.clear();
        return true;
    }
};

} // namespace

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void millionTicks() {
        bool ok = false;
        qint64 ticks = qEnvironmentVariableIntValue("ZARN_SOAK_TICKS", &ok);
        if (!ok || ticks <= 0)
            ticks = kDefaultTicks;
        const qint64 settleTick = std::min<qint64>(100000, ticks / 2);

        TestPlatform env;
        env.writeSettingsFile("[General]\nAdapter= 2\n");
        SoakSource source;
        Platform platform = env.platform();
        platform.interfaces = &source;
        frmMain w(platform);
        w.startUp();
        w.tmrAdapterUpdate->stop(); // the soak drives the tick itself
        QVERIFY(env.tray.shown);
        QVERIFY(w.showTrayIcon && w.animateTrayIcon && w.showBandwidthInTray);
        QCOMPARE(w.selectedAdapter, 2);
        w.mShowMini_Click();
        frmMiniBandwidth *mini = w.miniWindow(false);
        QVERIFY(mini && mini->isVisible());

        auto label = [&w](const char *name) { return w.findChild<QLabel *>(QLatin1String(name)); };
        QLabel *lblSent = label("lblSentBytes");
        QLabel *lblRecv = label("lblRecvBytes");
        QLabel *lblUp = label("lblUpBytes");
        QLabel *lblDown = label("lblDownBytes");
        QLabel *lblMiniDown = mini->findChild<QLabel *>(QStringLiteral("lblMiniDown"));
        QComboBox *adapterList = w.findChild<QComboBox *>(QStringLiteral("cmdAdapters"));
        QVERIFY(lblSent && lblRecv && lblUp && lblDown && lblMiniDown && adapterList);

        Random rnd;
        const int intervals[] = {250, 300, 1000, 2000};
        w.tmrAdapterUpdate->setInterval(1000);

        // What the test can predict: the bytes moved since the last tick that
        // read the interface, and whether nothing broke the measurement
        // since (a reset, a return, a change of interface or interval).
        quint64 pendingIn = 0, pendingOut = 0;
        int cleanReads = 0; // successive good reads of the same interface
        qint64 lastRecvTotal = -1;
        qint64 wraps = 0, resets = 0, failures = 0, vanishes = 0, switches = 0, checked = 0;
        int trayUpdates = 0;
        qint64 vanishedUntil = -1;
        qint64 settledKb = 0;
        QElapsedTimer clock;
        clock.start();

        for (qint64 i = 0; i < ticks; ++i) {
            SoakSource::Nic &nic = *source.find(w.selectedAdapter);

            // Traffic: up to 60 MB a tick down, 20 MB up, many ticks idle.
            const quint64 in = rnd.chance(300000) ? 0 : rnd.below(60000000);
            const quint64 out = rnd.chance(300000) ? 0 : rnd.below(20000000);
            for (SoakSource::Nic &n : source.nics) {
                const quint64 before = n.in;
                n.in += in;
                n.out += out;
                if (n.bits == 32 && (before >> 32) != (n.in >> 32) && &n == &nic)
                    ++wraps;
            }
            pendingIn += in;
            pendingOut += out;

            if (nic.present && vanishedUntil < 0 && rnd.chance(200)) {
                nic.present = false; // gone for up to 50 ticks
                vanishedUntil = i + 1 + qint64(rnd.below(50));
                ++vanishes;
                cleanReads = 0;
            } else if (!nic.present && i >= vanishedUntil) {
                nic.present = true; // back, as a new device: counters from zero
                nic.in = rnd.below(1000);
                nic.out = rnd.below(1000);
                vanishedUntil = -1;
                cleanReads = 0;
            } else if (nic.bits == 64 && rnd.chance(1000)) {
                nic.in = rnd.below(100000);
                nic.out = rnd.below(100000);
                ++resets;
                cleanReads = 0;
            }
            if (rnd.chance(5000)) {
                source.failNext = true;
                ++failures;
                // A read that fails spans two intervals when the next one
                // succeeds: that one is a fresh baseline, not a rate.
                cleanReads = 0;
            }
            if (rnd.chance(100)) {
                const int interval = intervals[rnd.below(4)];
                if (interval != w.tmrAdapterUpdate->interval())
                    cleanReads = 0;
                w.tmrAdapterUpdate->setInterval(interval);
            }
            if (rnd.chance(1000)) {
                // The user picks the other interface in the list.
                adapterList->setCurrentIndex(1 - adapterList->currentIndex());
                ++switches;
                cleanReads = 0;
                lastRecvTotal = -1;
            }

            const bool willRead = !source.failNext && source.find(w.selectedAdapter)->present;
            w.tmrAdapterUpdate_Timer();

            const QString sent = lblSent->text();
            const QString recv = lblRecv->text();
            const QString up = lblUp->text();
            const QString down = lblDown->text();
            for (const QString *label : {&sent, &recv, &up, &down}) {
                if (label->isEmpty())
                    continue;
                const auto value = RateText::readNumber(*label);
                if (!value || *value < 0)
                    QFAIL(qPrintable(QStringLiteral("tick %1: label \"%2\"").arg(i).arg(*label)));
            }
            if (i % 1000 == 0) {
                // The fake tray host records every request; keep only a count.
                trayUpdates += env.tray.count(FakeTrayHost::Request::Update);
                env.tray.requests.clear();
                QCoreApplication::processEvents();
            }
            if (i == settleTick)
                settledKb = heldKb();
            if (!willRead)
                continue;
            if (cleanReads >= 2) {
                // Two good reads in a row already: this one measures exactly
                // what moved, across any number of 32-bit wraps in between
                // (each read is less than one turn of the counter apart).
                const int interval = w.tmrAdapterUpdate->interval();
                const QString wantDown = RateText::wholeNumber(double(pendingIn) * 1000 / interval);
                const QString wantUp = RateText::wholeNumber(double(pendingOut) * 1000 / interval);
                if (down != wantDown || up != wantUp)
                    QFAIL(qPrintable(QStringLiteral("tick %1: rates %2/%3, expected %4/%5")
                                         .arg(i)
                                         .arg(down, up, wantDown, wantUp)));
                if (w.selectedAdapter == 2 && recv != RateText::wholeNumber(qint64(nic.in)))
                    QFAIL(qPrintable(QStringLiteral("tick %1: total %2").arg(i).arg(recv)));
                const qint64 total = qint64(RateText::readNumber(recv).value_or(-1));
                if (total < lastRecvTotal)
                    QFAIL(qPrintable(QStringLiteral("tick %1: total fell to %2").arg(i).arg(recv)));
                lastRecvTotal = total;
                if (lblMiniDown->text() != RateText::kiloText(down))
                    QFAIL(qPrintable(QStringLiteral("tick %1: mini window").arg(i)));
                ++checked;
            } else {
                lastRecvTotal = -1;
            }
            ++cleanReads;
            pendingIn = 0;
            pendingOut = 0;
        }

        const qint64 endKb = heldKb();
        std::printf("soak: %lld ticks in %.1f s; %lld checked exactly; %lld wraps, %lld resets, "
                    "%lld failed reads, %lld vanished, %lld switches, %d tray updates; "
                    "%s %lld kB at tick %lld, %lld kB at the end (resident now %lld kB)\n",
                    qlonglong(ticks), clock.elapsed() / 1000.0, qlonglong(checked),
                    qlonglong(wraps), qlonglong(resets), qlonglong(failures), qlonglong(vanishes),
                    qlonglong(switches), trayUpdates, kHeldName, qlonglong(settledKb),
                    qlonglong(settleTick), qlonglong(endKb), qlonglong(residentKb()));
        QVERIFY(checked > ticks / 2);
        QVERIFY(wraps > 0 && resets > 0 && failures > 0 && vanishes > 0 && switches > 0);
        QVERIFY(trayUpdates > 0);
        QVERIFY(env.tray.shown);
        QVERIFY(mini->isVisible());
        // Flat: a couple of MB of allocator noise, not growth per tick.
        QVERIFY2(endKb - settledKb < 4096, qPrintable(QStringLiteral("%1 grew from %2 kB to %3 kB")
                                                          .arg(QLatin1String(kHeldName))
                                                          .arg(settledKb)
                                                          .arg(endKb)));
    }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
