// A long run of the real tick against interfaces that misbehave the way real
// ones do: 32-bit counters wrap, 64-bit counters are reset, reads fail, an
// interface vanishes and comes back with fresh counters, the user switches
// interfaces and intervals. The window runs as after start-up, tray icon
// animated and mini window open. Every tick must leave sane labels, every
// tick after two clean reads the exact rates, and the memory the process
// holds must stay flat once it has settled.
//
// ZARN_SOAK_TICKS sets the number of ticks (1,000,000 unless set).
#include "monitor/RateText.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QComboBox>
#include <QTimer>
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

// The memory the program holds, in kB. Under AddressSanitizer the resident
// size keeps growing for a long while as freed blocks sit in its quarantine,
// so there the allocator's own count of live heap bytes is used.
qint64 heldKb() {
#ifdef ZARN_SOAK_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    const QList<QByteArray> statm = fileBytes(QStringLiteral("/proc/self/statm")).split(' ');
    return statm.value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
#endif
}

// A small deterministic generator: the same run every time.
struct Random {
    quint64 state = 0x9E3779B97F4A7C15ull;
    quint64 below(quint64 n) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state % n;
    }
    bool chance(quint64 perMillion) { return below(1000000) < perMillion; }
};

} // namespace

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void millionTicks() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        const qint64 ticks = qEnvironmentVariableIntValue("ZARN_SOAK_TICKS") > 0
                                 ? qEnvironmentVariableIntValue("ZARN_SOAK_TICKS")
                                 : 1000000;
        Rig r;
        // Index 2 counts in 64 bits and can be reset; index 3 shows 32 bits
        // and wraps every few dozen ticks. true* are the counts before that.
        r.env.interfaces.add(2, QStringLiteral("Soak Ethernet"));
        r.env.interfaces.add(3, QStringLiteral("Soak Wireless"), 71).counterBits = 32;
        quint64 trueIn[2] = {5000000, 4294000000u}, trueOut[2] = {2000000, 100};
        store(QStringLiteral("Adapter"), QStringLiteral(" 2"));
        r.w.startUp();
        r.w.tmrAdapterUpdate->stop(); // the soak drives the tick itself
        r.w.mShowMini_Click();
        QVERIFY(r.env.tray.shown && r.w.animateTrayIcon && r.w.miniWindow(false)->isVisible());
        const int intervals[] = {250, 300, 1000, 2000};
        QLabel *const labels[] = {r.label("lblSentBytes"), r.label("lblRecvBytes"),
                                  r.label("lblUpBytes"), r.label("lblDownBytes")};
        std::vector<InterfaceRow> gone; // a vanished interface, until it returns
        Random rnd;
        quint64 pendingIn = 0, pendingOut = 0; // moved since the last good read
        int cleanReads = 0;                    // good reads of the same interface in a row
        qint64 checked = 0, settledKb = 0;
        for (qint64 i = 0; i < ticks; ++i) {
            const int k = r.w.selectedAdapter - 2;
            // Up to 60 MB a tick down, 20 MB up, many ticks idle.
            const quint64 in = rnd.chance(300000) ? 0 : rnd.below(60000000);
            const quint64 out = rnd.chance(300000) ? 0 : rnd.below(20000000);
            pendingIn += in;
            pendingOut += out;
            for (int j : {0, 1}) {
                trueIn[j] += in;
                trueOut[j] += out;
            }
            if (gone.empty() && rnd.chance(200)) { // gone for a few ticks
                gone.push_back(*r.env.interfaces.find(r.w.selectedAdapter));
                std::erase_if(r.env.interfaces.rows, [&](const InterfaceRow &row) {
                    return row.index == r.w.selectedAdapter;
                });
                cleanReads = 0;
            } else if (!gone.empty() && rnd.chance(50000)) { // back as a new device
                r.env.interfaces.rows.push_back(gone.back());
                gone.clear();
                trueIn[k] = rnd.below(1000);
                trueOut[k] = rnd.below(1000);
            } else if (k == 0 && rnd.chance(1000)) { // a reset
                trueIn[0] = rnd.below(100000);
                trueOut[0] = rnd.below(100000);
                cleanReads = 0;
            }
            if (rnd.chance(100)) {
                const int interval = intervals[rnd.below(4)];
                cleanReads = interval == r.w.tmrAdapterUpdate->interval() ? cleanReads : 0;
                r.w.tmrAdapterUpdate->setInterval(interval);
            }
            if (gone.empty() && rnd.chance(1000)) { // the user picks the other interface
                QComboBox *list = r.get<QComboBox>("cmdAdapters");
                list->setCurrentIndex(1 - list->currentIndex());
                cleanReads = 0;
            }
            for (InterfaceRow &row : r.env.interfaces.rows) {
                const quint64 mask = row.counterBits == 32 ? 0xFFFFFFFFull : ~0ull;
                row.inOctets = trueIn[row.index - 2] & mask;
                row.outOctets = trueOut[row.index - 2] & mask;
            }
            const bool reads = r.env.interfaces.find(r.w.selectedAdapter) != nullptr;
            r.w.tmrAdapterUpdate_Timer();

            const QString recv = labels[1]->text(), up = labels[2]->text(),
                          down = labels[3]->text();
            for (const QString &label : {labels[0]->text(), recv, up, down})
                if (!label.isEmpty() && RateText::readNumber(label).value_or(-1) < 0)
                    QFAIL(qPrintable(QStringLiteral("tick %1: label \"%2\"").arg(i).arg(label)));
            if (i % 1000 == 0)
                r.env.tray.requests.clear(); // the fake host records every request
            if (i == std::min<qint64>(100000, ticks / 2))
                settledKb = heldKb();
            if (!reads) {
                cleanReads = 0;
                continue;
            }
            if (cleanReads >= 2) {
                // Two good reads in a row already: this one measures exactly
                // what moved, across any 32-bit wraps in between.
                const double interval = r.w.tmrAdapterUpdate->interval();
                const QString want = RateText::wholeNumber(double(pendingIn) * 1000 / interval) +
                                     u'|' +
                                     RateText::wholeNumber(double(pendingOut) * 1000 / interval);
                const QString got = down + u'|' + up;
                if (got != want)
                    QFAIL(qPrintable(
                        QStringLiteral("tick %1: rates %2, expected %3").arg(i).arg(got, want)));
                if (k == 0 && recv != RateText::wholeNumber(qint64(trueIn[0])))
                    QFAIL(qPrintable(QStringLiteral("tick %1: total %2").arg(i).arg(recv)));
                ++checked;
            }
            ++cleanReads;
            pendingIn = pendingOut = 0;
        }
        const qint64 endKb = heldKb();
        qInfo("%lld ticks, %lld checked exactly; held %lld kB once settled, %lld kB at the end",
              qlonglong(ticks), qlonglong(checked), qlonglong(settledKb), qlonglong(endKb));
        QVERIFY(checked > ticks / 2);
        QVERIFY(r.env.tray.shown && r.w.miniWindow(false)->isVisible());
        // Flat: a couple of MB of allocator noise, not growth per tick.
        QVERIFY(endKb - settledKb < 4096);
    }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
