// Figures for the usage history: bytes written to disk per hour with the
// default save period (from /proc/self/io), the store's size for one
// interface after a year, the report's time over that year, and the
// program's start-up time with and without it.
//
//   bench_usage PATH_TO_zarn-bandwidth

#include "adapters/InterfaceSource.h"
#include "platform/linux/LinuxUsagePlatform.h"
#include "usage/UsageRecorder.h"
#include "usage/UsageReport.h"
#include "usage/UsageStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

qint64 writtenBytes() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("write_bytes:"))
            return line.mid(12).trimmed().toLongLong();
    return -1;
}

// Saves of the given interfaces every period seconds for span seconds,
// ending now, with traffic on each at every save.
bool simulate(const QString &path, const QList<QByteArray> &names, qint64 period, qint64 span) {
    QString error;
    auto store = UsageStore::open(path, UsageStore::Mode::Record, error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const qint64 end = ::time(nullptr);
    quint64 counter = 1000;
    qint64 bootMs = 1000;
    for (qint64 t = end - span; t <= end; t += period) {
        counter += QRandomGenerator::global()->bounded(1000000);
        bootMs += period * 1000;
        const bool ok =
            store->save(
                [&] {
                    // As the recorder reads the table at every save.
                    Ledger::Input in;
                    in.bootId = "bench-boot";
                    in.bootMs = bootMs;
                    in.tableRead = true;
                    qint32 index = 2;
                    for (const QByteArray &name : names)
                        in.table.push_back(
                            {name, {"bench-boot", index++, counter, counter / 3, bootMs}, true});
                    return in;
                },
                t) == UsageStore::Saved::Yes;
        if (!ok) {
            std::fprintf(stderr, "%s\n", qPrintable(store->error()));
            return false;
        }
    }
    return true;
}

class NoInterfaces final : public InterfaceSource {
public:
    TableResult interfaceTable(std::vector<InterfaceRow> &rows) override {
        rows.clear();
        return TableResult::Ok;
    }
    bool interfaceRow(qint32, InterfaceRow &, Detail) override { return false; }
    bool addressTable(std::vector<AddressRow> &rows) override {
        rows.clear();
        return true;
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds from starting the program to its first paint, offscreen.
double startUp(const QString &program, const QString &dataHome, const QString &configHome) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("ZARN_REPORT_SHOWN"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    p.setProcessEnvironment(env);
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    const double started = double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    p.start(program, {});
    p.waitForFinished(30000);
    const QByteArray out = p.readAllStandardOutput();
    const qsizetype at = out.indexOf("shown ");
    if (at < 0)
        return -1;
    return (out.mid(at + 6).trimmed().toDouble() - started) * 1000.0;
}

QString copyYear(const QString &year, const QString &home) {
    const QString folder = home + QStringLiteral("/ZarnDev/Zarn Bandwidth");
    QDir(home).removeRecursively();
    QDir().mkpath(folder);
    QFile::copy(year, folder + QStringLiteral("/usage.sqlite"));
    return home;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_usage PATH_TO_zarn-bandwidth\n");
        return 2;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);

    // 1. Disk writes: two days of saves of three busy interfaces, on the
    // disk that /var/tmp is on (fsync included, as in the program).
    for (const qint64 period : {300, 60}) {
        QTemporaryDir disk(QStringLiteral("/var/tmp/bench_usage-XXXXXX"));
        const qint64 before = writtenBytes();
        if (!simulate(disk.path() + QStringLiteral("/usage.sqlite"), {"eth0", "wlan0", "tun0"},
                      period, 2 * 86400))
            return 1;
        const qint64 written = writtenBytes() - before;
        std::printf("save every %3lld s, 3 busy interfaces: %.1f KiB written per hour\n",
                    static_cast<long long>(period), double(written) / 48.0 / 1024.0);
    }

    // 2. A year of one interface, saved every five minutes (in memory: only
    // the size matters here).
    QTemporaryDir shm(QStringLiteral("/dev/shm/bench_usage-XXXXXX"));
    const QString year = shm.path() + QStringLiteral("/usage.sqlite");
    QElapsedTimer clock;
    clock.start();
    if (!simulate(year, {"eth0"}, 300, 365 * 86400))
        return 1;
    std::printf("a year of one interface: %.0f KiB (%lld saves simulated in %.1f s)\n",
                double(QFileInfo(year).size()) / 1024.0, 365LL * 288, clock.elapsed() / 1000.0);

    // 3. The report over that year, in the process and as a whole program.
    QTemporaryDir home(QStringLiteral("/var/tmp/bench_usage-XXXXXX"));
    const QString withYear = copyYear(year, home.path() + QStringLiteral("/year"));
    const QString empty = home.path() + QStringLiteral("/empty");
    const QString config = home.path() + QStringLiteral("/config");
    qputenv("XDG_DATA_HOME", withYear.toLocal8Bit());
    NoInterfaces none;
    LinuxUsagePlatform platform;
    FILE *sink = std::fopen("/dev/null", "w");
    std::vector<double> inProcess, whole, version;
    for (int i = 0; i < 20; ++i) {
        clock.restart();
        if (UsageReport::run({"eth0", i % 2 == 1}, none, platform, sink, stderr) != 0)
            return 1;
        inProcess.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    // --version loads the same libraries and does nothing else: the
    // program's own floor.
    for (int i = 0; i < 10; ++i)
        for (auto *times : {&whole, &version}) {
            QProcess p;
            clock.restart();
            p.start(program, times == &whole
                                 ? QStringList{QStringLiteral("--usage"), QStringLiteral("eth0")}
                                 : QStringList{QStringLiteral("--version")});
            p.waitForFinished(30000);
            times->push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    std::fclose(sink);
    // Each of the report's readings alone, over the same year.
    {
        UsageRecorder::Options o;
        o.reader = true;
        UsageRecorder reader(none, platform, o);
        reader.start();
        const QDate today = QDate::currentDate();
        const std::pair<const char *, std::function<size_t()>> readings[] = {
            {"days of this month",
             [&] {
                 return reader.days("eth0", QDate(today.year(), today.month(), 1), today).size();
             }},
            {"12 months",
             [&] { return reader.months("eth0", today.addMonths(-11), today).size(); }},
            {"24 hours", [&] { return reader.hours("eth0", 24).size(); }},
            {"top 10 days", [&] { return reader.topDays("eth0", 10).size(); }},
            {"years (months since the first)", [&] {
                 return reader.months("eth0", QDate(reader.firstDay("eth0").year(), 1, 1), today)
                     .size();
             }}};
        for (const auto &[what, read] : readings) {
            std::vector<double> times;
            for (int i = 0; i < 20; ++i) {
                clock.restart();
                if (read() == 0)
                    return 1;
                times.push_back(double(clock.nsecsElapsed()) / 1e6);
            }
            std::printf("  %s over a year: %.2f ms (median)\n", what, median(times));
        }
    }
    // What the program does after its first paint: open and check the
    // store, and the first save.
    std::vector<double> opening;
    for (int i = 0; i < 10; ++i) {
        copyYear(year, withYear);
        clock.restart();
        UsageRecorder recorder(none, platform, UsageRecorder::Options{});
        recorder.start();
        opening.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (!recorder.available())
            return 1;
    }
    std::printf("report over a year: %.1f ms in the process; `zarn-bandwidth --usage eth0` "
                "%.1f ms against %.1f ms for `--version` (medians)\n",
                median(inProcess), median(whole), median(version));

    // 4. Start-up to the first paint, with no history and with the year.
    std::vector<double> without, with;
    for (int i = 0; i < 7; ++i) {
        QDir(empty).removeRecursively();
        without.push_back(startUp(program, empty, config));
        with.push_back(startUp(program, copyYear(year, withYear), config));
    }
    std::printf("start-up to the first paint: %.0f ms without history, %.0f ms with a year "
                "(medians of 7); opening the year's store and the first save after it: %.1f ms\n",
                median(without), median(with), median(opening));
    return 0;
}
