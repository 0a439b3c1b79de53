// Prints what the live graph costs per tick and whether its picture is the
// one a full paint makes. One graph of the Usage window is shown offscreen
// and fed a made-up trail (300 ms ticks with a little jitter, a rate that
// wanders, a gap now and then); each tick is the window's own path: a new
// point, RateGraph::refresh(), the paint Qt then runs.
//
//   QT_QPA_PLATFORM=offscreen bench_graph [--ticks N] [--full]
//
// --full paints the whole plot on every tick, as the graph did before it
// scrolled its picture: the figure to compare with. At the end the graph's
// pixels on screen are compared with a full paint of the same trail.

#include "usagewindow/RateTrail.h"
#include "usagewindow/UsageCharts.h"

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

QImage onScreen(QWidget &w) {
    return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    int ticks = 2000;
    bool full = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0 && i + 1 < argc)
            ticks = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--full") == 0)
            full = true;
    }

    RateTrail trail;
    RateGraph graph(trail, &RateTrail::Point::down, receivedColour());
    graph.resize(488, 150); // the Usage window's graph at its usual size
    graph.show();
    QApplication::processEvents();

    qint64 now = 5000000;
    quint64 seed = 12345;
    const auto next = [&seed] {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(seed >> 33) / double(1ULL << 31);
    };
    std::vector<double> perTick;
    perTick.reserve(size_t(ticks));
    double rate = 200000;
    for (int i = 0; i < ticks; ++i) {
        now += 280 + qint64(next() * 40);
        rate = std::clamp(rate * (0.9 + 0.2 * next()), 1000.0, 400000.0);
        const auto started = std::chrono::steady_clock::now();
        if (std::getenv("NOGAP") == nullptr && i % 97 == 96)
            trail.addGap(now);
        else
            trail.add(now, rate, rate / 10);
        graph.refresh();
        if (full)
            graph.update();
        QApplication::processEvents();
        perTick.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started)
                .count());
    }
    std::vector<double> sorted = perTick;
    std::sort(sorted.begin(), sorted.end());
    std::printf("graph %dx%d, %d ticks, %s: median %.1f us per tick, p90 %.1f us, CPU %.0f ms "
                "in all\n",
                graph.width(), graph.height(), ticks,
                full ? "whole plot painted each tick" : "scrolled, new columns painted",
                sorted[sorted.size() / 2], sorted[sorted.size() * 9 / 10], cpuMs());

    const QImage kept = onScreen(graph);
    graph.update();
    QApplication::processEvents();
    const QImage painted = onScreen(graph);
    int differ = 0;
    QRect where;
    for (int y = 0; y < kept.height(); ++y)
        for (int x = 0; x < kept.width(); ++x)
            if (kept.pixel(x, y) != painted.pixel(x, y)) {
                ++differ;
                where |= QRect(x, y, 1, 1);
            }
    std::printf("pixels that differ from a full paint of the same trail: %d of %d", differ,
                kept.width() * kept.height());
    if (differ)
        std::printf(", within x %d..%d, y %d..%d", where.left(), where.right(), where.top(),
                    where.bottom());
    std::printf("\n");
    if (const char *keep = std::getenv("BENCH_GRAPH_KEEP")) {
        kept.save(QString::fromLocal8Bit(keep) + QStringLiteral("-kept.png"));
        painted.save(QString::fromLocal8Bit(keep) + QStringLiteral("-painted.png"));
    }
    return 0;
}
