// A million ticks (ZARN_SOAK_TICKS) of the window as after start-up, tray icon
// animated and mini window open, over interfaces whose 32-bit counters wrap,
// 64-bit ones reset, that vanish and come back, while the user switches
// interfaces and intervals: sane labels, exact rates and totals, flat memory.
#include "monitor/RateText.h"
#include "support/Harness.h"
#include "ui/frmMiniBandwidth.h"

#include <QComboBox>
#include <QTimer>
#include <random>
#include <unistd.h>

// Under ASan, freed blocks held in quarantine swell the resident size: count live heap there.
extern "C" __attribute__((weak)) std::size_t __sanitizer_get_current_allocated_bytes();

static qint64 heldKb() {
    if (__sanitizer_get_current_allocated_bytes != nullptr)
        return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
    const QList<QByteArray> statm = fileBytes(QStringLiteral("/proc/self/statm")).split(' ');
    return statm.value(1).toLongLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

class SoakTest : public QObject {
    Q_OBJECT
private slots:
    void millionTicks() {
        const qint64 ticks = qEnvironmentVariable("ZARN_SOAK_TICKS", "1000000").toLongLong();
        Rig r;
        r.env.interfaces.add(2, QStringLiteral("Soak Ethernet"));
        r.env.interfaces.add(3, QStringLiteral("Soak Wireless"), 71).counterBits = 32;
        // What index 2 and 3 received and sent (3 wraps every few dozen ticks); moved: this tick.
        quint64 truth[2][2] = {{5000000, 2000000}, {4294000000u, 100}}, moved[2] = {0, 0};
        store(QStringLiteral("Adapter"), QStringLiteral(" 2"));
        r.w.startUp();
        r.w.monitor->tmrAdapterUpdate->stop(); // the soak drives the tick itself
        r.w.mShowMini_Click();
        QVERIFY(r.env.tray.shown && r.w.animateTrayIcon && r.w.miniWindow(false)->isVisible());
        QLabel *const labels[] = {r.label("lblDownBytes"), r.label("lblUpBytes"),
                                  r.label("lblRecvBytes"), r.label("lblSentBytes")};
        std::mt19937_64 random(1); // the same run every time
        const auto chance = [&](quint64 perMillion) { return random() % 1000000 < perMillion; };
        std::optional<InterfaceRow> gone; // until it comes back
        int cleanReads = 0;               // good reads of the same interface in a row
        QComboBox *const list = r.get<QComboBox>("cmdAdapters");
        qint64 checked = 0, settledKb = 0;
        for (qint64 i = 0; i < ticks; ++i) {
            const int k = r.w.monitor->selectedAdapter - 2;
            for (int d : {0, 1}) { // up to 60 MB a tick down, 20 MB up, many ticks idle
                const quint64 bytes = chance(300000) ? 0 : random() % (d ? 20000000 : 60000000);
                moved[d] += bytes;
                truth[0][d] += bytes;
                truth[1][d] += bytes;
            }
            bool quiet = false;         // no change that a read must first settle
            if (!gone && chance(200)) { // gone for a few ticks
                gone = *r.env.interfaces.find(r.w.monitor->selectedAdapter);
                std::erase_if(r.env.interfaces.rows,
                              [&](const InterfaceRow &row) { return row.index == gone->index; });
            } else if (gone && chance(50000)) { // back as a new device
                r.env.interfaces.rows.push_back(*std::exchange(gone, std::nullopt));
                truth[k][0] = truth[k][1] = random() % 1000;
            } else if (k == 0 && chance(1000)) { // a reset
                truth[0][0] = truth[0][1] = random() % 100000;
            } else if (chance(100)) {
                r.w.monitor->tmrAdapterUpdate->setInterval(
                    std::array{250, 300, 1000, 2000}[random() % 4]);
            } else if (!gone && chance(1000)) { // the user picks the other interface
                list->setCurrentIndex(1 - list->currentIndex());
            } else {
                quiet = true;
            }
            for (InterfaceRow &row : r.env.interfaces.rows) {
                const quint64 mask = row.counterBits == 32 ? 0xFFFFFFFFull : ~0ull;
                row.inOctets = truth[row.index - 2][0] & mask;
                row.outOctets = truth[row.index - 2][1] & mask;
            }
            const bool reads = r.env.interfaces.find(r.w.monitor->selectedAdapter) != nullptr;
            r.w.monitor->tmrAdapterUpdate_Timer();

            QStringList shown;
            for (QLabel *label : labels)
                if (!(shown << label->text()).last().isEmpty() &&
                    RateText::readNumber(shown.last()).value_or(-1) < 0)
                    QFAIL(qPrintable(QStringLiteral("tick %1: label %2").arg(i).arg(shown.last())));
            if (i % 1000 == 0)
                r.env.tray.requests.clear(); // the fake host records every request
            if (i == std::min<qint64>(100000, ticks / 2))
                settledKb = heldKb();
            if (reads && quiet && cleanReads >= 2) { // exactly what moved, across any 32-bit wraps
                const double perSecond = 1000.0 / r.w.monitor->tmrAdapterUpdate->interval();
                const QString want =
                    RateText::wholeNumber(double(moved[0]) * perSecond) + u' ' +
                    RateText::wholeNumber(double(moved[1]) * perSecond) + u' ' +
                    (k == 0 ? RateText::wholeNumber(qint64(truth[0][0])) : shown[2]);
                if (shown.mid(0, 3).join(u' ') != want)
                    QFAIL(qPrintable(QString::number(i) + u':' + shown.join(u' ') + " != " + want));
                ++checked;
            }
            cleanReads = !reads ? 0 : quiet ? cleanReads + 1 : 1;
            moved[0] = moved[1] = 0;
        }
        const qint64 endKb = heldKb();
        qInfo("%lld ticks, %lld checked exactly; held %lld kB once settled, %lld kB at the end",
              qlonglong(ticks), qlonglong(checked), qlonglong(settledKb), qlonglong(endKb));
        QVERIFY(checked > ticks / 2);
        QVERIFY(endKb - settledKb < 4096); // allocator noise, not growth per tick
    }
};

QTEST_MAIN(SoakTest)
#include "test_soak.moc"
