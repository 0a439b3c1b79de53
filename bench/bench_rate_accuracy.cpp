// How close the shown download rate comes to the truth, before and after
// the tick measured elapsed time. Two real main windows sample the kernel's
// loopback side by side in one process, each with its own timer: one takes
// every tick to last exactly its interval (no clock, the old rule), the other
// divides by the time its monotonic clock says really passed. Right after
// each tick this program reads the kernel's byte counter and the clock
// itself, so the true rate of that tick is the bytes the kernel counted over
// the time that really passed.
//
//   bench_rate_accuracy [--ticks N] [--interval MS] [--interface NAME]
//
// Run it where something moves steady traffic over the interface (the
// benchmark script runs iperf3 on the loopback of a namespace of its own,
// with both cores kept busy by another job).

#include "monitor/RateText.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "platform/qt/SteadyClock.h"
#include "tray/TrayHost.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

class QuietTray final : public TrayHost {
public:
    void show(const QIcon &, const TrayTip &) override {}
    void update(const QIcon &, const TrayTip &) override {}
    void remove() override {}
    bool isShown() const override { return true; }
    bool isAvailable() const override { return true; }
    bool reportsDoubleClick() const override { return true; }
    void setContextMenu(QMenu *) override {}
    bool showMessage(const QString &, const QString &) override { return false; }
};

long long readCounter(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    long long value = -1;
    if (std::fscanf(f, "%lld", &value) != 1)
        value = -1;
    std::fclose(f);
    return value;
}

struct Sample {
    double seconds;
    long long rx;
    double shown;
};

// One window and what was seen right after each of its ticks.
struct Probe {
    const char *name;
    std::unique_ptr<frmMain> window;
    std::vector<Sample> samples;
    int seen = 0;
};

struct Errors {
    std::vector<double> percent; // sorted
    long long kernelBytes = 0;
    double seconds = 0;
};

Errors errorsOf(const std::vector<Sample> &samples) {
    Errors e;
    for (size_t i = 1; i < samples.size(); ++i) {
        const double elapsed = samples[i].seconds - samples[i - 1].seconds;
        const long long bytes = samples[i].rx - samples[i - 1].rx;
        e.kernelBytes += bytes;
        e.seconds += elapsed;
        const double truth = bytes / elapsed;
        if (truth > 0)
            e.percent.push_back(std::fabs(samples[i].shown - truth) / truth * 100.0);
    }
    std::sort(e.percent.begin(), e.percent.end());
    return e;
}

} // namespace

int main(int argc, char *argv[]) {
    int ticks = 100;
    int interval = 300;
    std::string name = "lo";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--ticks") && i + 1 < argc)
            ticks = std::max(2, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--interval") && i + 1 < argc)
            interval = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--interface") && i + 1 < argc)
            name = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--ticks N] [--interval MS] [--interface NAME]\n",
                         argv[0]);
            return 2;
        }
    }
    const qint32 index = qint32(if_nametoindex(name.c_str()));
    const std::string rxPath = "/sys/class/net/" + name + "/statistics/rx_bytes";
    if (index <= 0 || readCounter(rxPath) < 0) {
        std::fprintf(stderr, "no interface %s\n", name.c_str());
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsDir;
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    NetlinkInterfaceSource kernel;
    QuietTray tray;
    SteadyClock clock;
    Probe probes[2] = {{"interval rule (before)", nullptr, {}, 0},
                       {"measured time (after)", nullptr, {}, 0}};
    const auto now = [&clock] { return double(clock.nowNs()) / 1e9; };
    int finished = 0;
    for (Probe &probe : probes) {
        Platform platform;
        platform.interfaces = &kernel;
        platform.tray = &tray;
        platform.clock = &probe == &probes[1] ? &clock : nullptr;
        probe.window = std::make_unique<frmMain>(platform);
        frmMain &window = *probe.window;
        window.showTrayIcon = true;
        window.animateTrayIcon = true;
        window.monitor->trackedAdapter = 0;
        window.monitor->selectedAdapter = index;
        const QLabel *down = window.findChild<QLabel *>(QStringLiteral("lblDownBytes"));
        // Connected after the window's own tick, so it runs right after it.
        QObject::connect(window.monitor->tmrAdapterUpdate, &QTimer::timeout, &app, [&, down] {
            const double at = now();
            const long long rx = readCounter(rxPath);
            // Tick 1 adopts, tick 2 takes the baseline: rates from tick 3 on.
            if (++probe.seen >= 2 && int(probe.samples.size()) <= ticks)
                probe.samples.push_back({at, rx, RateText::readNumber(down->text()).value_or(-1)});
            if (int(probe.samples.size()) == ticks + 1 && ++finished == 2)
                app.quit();
        });
        window.monitor->tmrAdapterUpdate->setInterval(interval);
    }
    for (Probe &probe : probes)
        probe.window->monitor->tmrAdapterUpdate->start();
    app.exec();

    std::printf("interface %s, %d ms, %d ticks per window, side by side in one process\n",
                name.c_str(), interval, ticks);
    std::printf("%-24s %10s %10s %12s\n", "rate error per tick", "median", "worst", "mean Mbit/s");
    for (const Probe &probe : probes) {
        const Errors e = errorsOf(probe.samples);
        if (e.percent.empty()) {
            std::printf("no traffic seen on %s: nothing to compare\n", name.c_str());
            return 1;
        }
        std::printf("%-24s %9.3f%% %9.3f%% %12.2f\n", probe.name, e.percent[e.percent.size() / 2],
                    e.percent.back(), e.kernelBytes * 8 / e.seconds / 1e6);
    }
    return 0;
}
