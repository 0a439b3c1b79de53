// Prints what one sampling tick costs: the main window is built offscreen and
// its tick is called directly, many times, each call timed on its own.
//
//   bench_tick [--fake] [--index N] [--ticks N] [--memory] [--usage] [--paint]
//
// By default the interface is read from the kernel (loopback, index 1).
// --fake uses an in-process source whose counters move by varying amounts
// every tick, so that every label, the tooltip and the tray picture change.
// --memory times nothing: the window is shown (offscreen) and painted every
// hundred ticks, and the resident memory is printed after start-up and at
// every tenth of the ticks, to show that it stays flat.
// --usage attaches the Usage window's feature as the program does, with the
// window never shown: what the tick costs while the graph is hidden.
// --paint times no tick: a value label's repaint with a new text each time,
// as a QLabel and as the ValueLabel the windows use, shown offscreen, in the
// main window's form (framed, right-aligned figure) and in the Usage
// window's (a rate line); the first figure is the one-off shaping per font.

#include "adapters/InterfaceSource.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "tray/TrayHost.h"
#include "ui/Fonts.h"
#include "ui/ValueLabel.h"
#include "ui/frmMain.h"
#include "usagewindow/UsageFeature.h"

#include <QApplication>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class MovingSource final : public InterfaceSource {
public:
    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override {
        rows.clear();
        return TableResult::Ok;
    }
    bool interfaceRow(qint32 index, InterfaceRow &row, Detail) override {
        ++reads_;
        in_ += 40000 + (reads_ * 7919) % 30000;
        out_ += 3000 + (reads_ * 104729) % 2000;
        row = InterfaceRow{};
        row.index = index;
        row.description = QStringLiteral("bench interface");
        row.inOctets = in_;
        row.outOctets = out_;
        return true;
    }
    bool addressTable(std::vector<AddressRow> &rows) override {
        rows.clear();
        return true;
    }

private:
    quint64 reads_ = 0;
    quint64 in_ = 1000000;
    quint64 out_ = 500000;
};

// A tray that is always shown and only counts what it is told.
class CountingTray final : public TrayHost {
public:
    int updates = 0;
    void show(const QIcon &, const TrayTip &) override {}
    void update(const QIcon &, const TrayTip &) override { ++updates; }
    void remove() override {}
    bool isShown() const override { return true; }
    bool isAvailable() const override { return true; }
    bool reportsDoubleClick() const override { return true; }
    void setContextMenu(QMenu *) override {}
    bool showMessage(const QString &, const QString &) override { return false; }
};

// Resident memory of this process in kB.
long residentKb() {
    long pages = 0;
    long resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double percentile(const std::vector<double> &sorted, double p) {
    const size_t at = std::min(sorted.size() - 1, size_t(p * double(sorted.size())));
    return sorted[at];
}

// Median microseconds of one repaint() of label with a new text each time.
double repaintMicros(QLabel &label, int count, bool usageLine) {
    std::vector<double> micros;
    micros.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const QString figure = QLocale().toString(1000.0 + (i * 7919) % 900000 / 100.0, 'f', 2);
        label.setText(usageLine ? QStringLiteral("Download: ") + figure + QStringLiteral(" k/sec")
                                : figure);
        const auto start = std::chrono::steady_clock::now();
        label.repaint();
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(micros.begin(), micros.end());
    return percentile(micros, 0.5);
}

int paintBench(int count) {
    std::printf("repaint, median of %d, us    QLabel  ValueLabel  (first ValueLabel paint)\n",
                count);
    for (bool usageLine : {false, true}) {
        QLabel plain;
        ValueLabel value;
        double first = 0;
        for (QLabel *label : {&plain, static_cast<QLabel *>(&value)}) {
            if (usageLine) {
                label->setFixedSize(300, 20);
                label->setBackgroundRole(QPalette::Base);
            } else {
                label->setFont(Fonts::dialogFont());
                label->setFrameShape(QFrame::Box);
                label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                label->setFixedSize(93, 17);
            }
            makeValueLabel(label);
            label->show();
            QApplication::processEvents();
            label->setText(QStringLiteral("1.23"));
            const auto start = std::chrono::steady_clock::now();
            label->repaint();
            first =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count();
        }
        const double a = repaintMicros(plain, count, usageLine);
        const double b = repaintMicros(value, count, usageLine);
        std::printf("%-28s %8.2f  %10.2f  (%.0f us)%s\n",
                    usageLine ? "Usage rate line" : "main window figure", a, b, first,
                    value.paintsFromGlyphs() ? "" : "  [ValueLabel fell back]");
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    bool fake = false;
    bool memory = false;
    bool usage = false;
    bool paint = false;
    qint32 index = 1;
    int ticks = 20000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--fake"))
            fake = true;
        else if (!std::strcmp(argv[i], "--memory"))
            memory = true;
        else if (!std::strcmp(argv[i], "--usage"))
            usage = true;
        else if (!std::strcmp(argv[i], "--paint"))
            paint = true;
        else if (!std::strcmp(argv[i], "--index") && i + 1 < argc)
            index = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--ticks") && i + 1 < argc)
            ticks = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr,
                         "usage: %s [--fake] [--index N] [--ticks N] [--memory] [--usage] "
                         "[--paint]\n",
                         argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Threshold changes are stored as settings: keep them away from the
    // user's own.
    QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    if (paint)
        return paintBench(ticks);

    NetlinkInterfaceSource kernel;
    MovingSource moving;
    CountingTray tray;
    Platform platform;
    platform.interfaces = fake ? static_cast<InterfaceSource *>(&moving) : &kernel;
    platform.tray = &tray;

    frmMain window(platform);
    window.monitor->tmrAdapterUpdate->setInterval(1000);
    window.monitor->trackedAdapter = 0;
    window.monitor->selectedAdapter = index;
    window.showTrayIcon = true;
    window.animateTrayIcon = true;
    window.showBandwidthInTray = true;
    UsageFeature usageFeature(nullptr, nullptr);
    if (usage)
        usageFeature.attach(window.monitor, window.mUsage);

    // Adoption, baseline, and a short warm-up.
    for (int i = 0; i < 100; ++i)
        window.monitor->tmrAdapterUpdate_Timer();
    const QString name = window.findChild<QLabel *>(QStringLiteral("lblAdapterName"))->text();
    const QString total = window.findChild<QLabel *>(QStringLiteral("lblRecvBytes"))->text();
    if (total.isEmpty())
        std::printf("warning: the interface query fails; this measures a tick that ends at "
                    "the query\n");

    if (memory) {
        window.show();
        QApplication::processEvents();
        const long start = residentKb();
        std::printf("resident after start-up: %ld kB\n", start);
        long highest = start;
        for (int i = 1; i <= ticks; ++i) {
            window.monitor->tmrAdapterUpdate_Timer();
            if (i % 100 == 0)
                QApplication::processEvents(); // paints the labels that changed
            if (i % std::max(1, ticks / 10) == 0) {
                const long now = residentKb();
                highest = std::max(highest, now);
                std::printf("resident after %9d ticks: %ld kB\n", i, now);
            }
        }
        std::printf("growth over %d ticks: %ld kB (highest %ld kB)\n", ticks, residentKb() - start,
                    highest);
        return 0;
    }

    const int updatesBefore = tray.updates;
    std::vector<double> micros;
    micros.reserve(size_t(ticks));
    for (int i = 0; i < ticks; ++i) {
        const auto start = std::chrono::steady_clock::now();
        window.monitor->tmrAdapterUpdate_Timer();
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros)
        sum += m;

    std::printf("source:       %s, interface %d \"%s\"\n",
                fake ? "fake (moving counters)" : "kernel", index, qPrintable(name));
    std::printf("ticks:        %d (tray told %d times)\n", ticks, tray.updates - updatesBefore);
    std::printf("usage:        %s\n", usage ? "attached, window hidden" : "not attached");
    std::printf("median:       %.2f us\n", percentile(micros, 0.5));
    std::printf("p99:          %.2f us\n", percentile(micros, 0.99));
    std::printf("mean:         %.2f us\n", sum / double(micros.size()));
    std::printf("max:          %.2f us\n", micros.back());
    std::printf("cores:        %u\n", std::thread::hardware_concurrency());
    return 0;
}
