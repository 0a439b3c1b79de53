// Prints what reading the adapter list again costs when the system reports a
// change: the main window is built offscreen over the kernel's interfaces
// (those of the namespace it runs in), and its refresh is called many times,
// each call timed on its own.
//
//   bench_adapter_refresh [--rounds N]
//
// Two cases: a report that changes nothing (one dump and one address read,
// compared with the list), and one after which the list is built anew (the
// recorded indexes are spoiled before each call, so the whole list is
// replaced, as it is when a link comes or goes).

#include "platform/linux/NetlinkInterfaceSource.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QComboBox>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

template <typename F> std::vector<double> timed(int rounds, F f) {
    std::vector<double> micros;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        f();
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(micros.begin(), micros.end());
    return micros;
}

void print(const char *what, const std::vector<double> &sorted) {
    std::printf("%-34s median %9.1f us   p90 %9.1f us   max %9.1f us\n", what,
                sorted[sorted.size() / 2], sorted[sorted.size() * 9 / 10], sorted.back());
}

} // namespace

int main(int argc, char *argv[]) {
    int rounds = 200;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--rounds N]\n", argv[0]);
            return 2;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsDir; // the fill stores the adapter: not in the user's settings
    qputenv("XDG_CONFIG_HOME", settingsDir.path().toLocal8Bit());
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());

    NetlinkInterfaceSource kernel;
    Platform platform;
    platform.interfaces = &kernel;
    frmMain window(platform);
    window.enumerateAdapters();
    const int entries = window.findChild<QComboBox *>(QStringLiteral("cmdAdapters"))->count();

    std::printf("interfaces:  %d listed\n", entries);
    print("report, nothing changed", timed(rounds, [&] { window.refreshAdapters(); }));
    print("report, list built anew", timed(rounds, [&] {
              window.adapterIndexes.back() = -1;
              window.refreshAdapters();
          }));
    return 0;
}
