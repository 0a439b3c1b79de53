// How close the shown download rate comes to the truth. The real main window
// samples the kernel's loopback with its own timer; right after each tick
// this program reads the kernel's byte counter and the clock itself, so the
// true rate of that tick is the bytes the kernel counted over the time that
// really passed. The window takes every tick to last exactly its interval,
// so the error is the timer's lateness (or earliness) plus the short delay
// between the two reads.
//
//   bench_rate_accuracy [--ticks N] [--interval MS] [--interface NAME]
//
// Run it where something moves steady traffic over the interface (the
// benchmark script runs iperf3 on the loopback of a namespace of its own).

#include "monitor/RateText.h"
#include "platform/linux/NetlinkInterfaceSource.h"
#include "tray/TrayHost.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

class QuietTray final : public TrayHost {
public:
    void show(const QIcon &, const QString &) override {}
    void update(const QIcon &, const QString &) override {}
    void remove() override {}
    bool isShown() const override { return true; }
    bool isAvailable() const override { return true; }
    bool reportsDoubleClick() const override { return true; }
    void setContextMenu(QMenu *) override {}
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
    Platform platform;
    platform.interfaces = &kernel;
    platform.tray = &tray;
    frmMain window(platform);
    window.showTrayIcon = true;
    window.animateTrayIcon = true;
    window.trackedAdapter = QStringLiteral("0");
    window.selectedAdapter = index;
    const QLabel *down = window.findChild<QLabel *>(QStringLiteral("lblDownBytes"));

    struct Sample {
        double seconds;
        long long rx;
        double shown;
    };
    std::vector<Sample> samples;
    int seen = 0;
    const auto clock = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    // Connected after the window's own tick, so it runs right after it.
    QObject::connect(window.tmrAdapterUpdate, &QTimer::timeout, &app, [&] {
        const double now = clock();
        const long long rx = readCounter(rxPath);
        // Tick 1 adopts, tick 2 takes the baseline: rates from tick 3 on.
        if (++seen >= 2)
            samples.push_back({now, rx, RateText::readNumber(down->text()).value_or(-1)});
        if (int(samples.size()) > ticks)
            app.quit();
    });
    window.tmrAdapterUpdate->setInterval(interval);
    window.tmrAdapterUpdate->start();
    app.exec();

    std::vector<double> errors;
    long long kernelBytes = 0;
    double shownBytes = 0;
    double seconds = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        const double elapsed = samples[i].seconds - samples[i - 1].seconds;
        const long long bytes = samples[i].rx - samples[i - 1].rx;
        kernelBytes += bytes;
        seconds += elapsed;
        shownBytes += samples[i].shown * interval / 1000.0;
        const double truth = bytes / elapsed;
        if (truth > 0)
            errors.push_back(std::fabs(samples[i].shown - truth) / truth * 100.0);
    }
    if (errors.empty()) {
        std::printf("no traffic seen on %s: nothing to compare\n", name.c_str());
        return 1;
    }
    std::vector<double> sorted = errors;
    std::sort(sorted.begin(), sorted.end());
    std::printf("interface %s, %d ms, %zu ticks with traffic, mean %.2f Mbit/s\n", name.c_str(),
                interval, errors.size(), kernelBytes * 8 / seconds / 1e6);
    std::printf("rate error: median %.3f %%, worst %.3f %%\n", sorted[sorted.size() / 2],
                sorted.back());
    std::printf("bytes: kernel %lld, shown rates x interval %.0f (%.3f %% apart); "
                "real time %.3f s for %.3f s of ticks\n",
                kernelBytes, shownBytes, std::fabs(shownBytes - kernelBytes) / kernelBytes * 100.0,
                seconds, double(errors.size()) * interval / 1000.0);
    return 0;
}
