// What one read of an interface's byte counters costs: the netlink row read
// the sampler makes on every tick, against reading the whole /proc/net/dev
// and against the two sysfs statistics files. Prints the median of many
// timed batches.
//
// Usage: bench_interface_read [interface-index]   (default: 1, the loopback)

#include "platform/linux/NetlinkInterfaceSource.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <net/if.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBatches = 101;
constexpr int kPerBatch = 200;

// Median cost of one call in microseconds.
double medianMicros(const std::function<bool()> &read) {
    std::vector<double> batches;
    for (int b = 0; b < kBatches; ++b) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kPerBatch; ++i)
            if (!read())
                return -1;
        const std::chrono::duration<double, std::micro> took =
            std::chrono::steady_clock::now() - start;
        batches.push_back(took.count() / kPerBatch);
    }
    std::nth_element(batches.begin(), batches.begin() + kBatches / 2, batches.end());
    return batches[kBatches / 2];
}

bool readWhole(const char *path) {
    static char buffer[256 * 1024];
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
    }
    ::close(fd);
    return n == 0;
}

int interfaceCount() {
    int count = 0;
    if (struct if_nameindex *list = if_nameindex()) {
        for (struct if_nameindex *p = list; p->if_index != 0; ++p)
            ++count;
        if_freenameindex(list);
    }
    return count;
}

} // namespace

int main(int argc, char **argv) {
    const qint32 index = argc > 1 ? qint32(std::atoi(argv[1])) : 1;
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(unsigned(index), name)) {
        std::fprintf(stderr, "no interface with index %d\n", index);
        return 1;
    }
    const std::string statistics = std::string("/sys/class/net/") + name + "/statistics/";
    const std::string rx = statistics + "rx_bytes";
    const std::string tx = statistics + "tx_bytes";

    NetlinkInterfaceSource source;
    InterfaceRow row;
    const double counters = medianMicros(
        [&] { return source.interfaceRow(index, row, InterfaceSource::Detail::Counters); });
    const double full = medianMicros(
        [&] { return source.interfaceRow(index, row, InterfaceSource::Detail::Full); });
    const double procNetDev = medianMicros([] { return readWhole("/proc/net/dev"); });
    const double sysfs =
        medianMicros([&] { return readWhole(rx.c_str()) && readWhole(tx.c_str()); });

    std::printf("interface %s (index %d), %d interfaces on this system\n", name, index,
                interfaceCount());
    std::printf("median cost of one read, %d batches of %d:\n", kBatches, kPerBatch);
    std::printf("  netlink row, counters       %8.2f us\n", counters);
    std::printf("  netlink row, full detail    %8.2f us\n", full);
    std::printf("  whole /proc/net/dev         %8.2f us\n", procNetDev);
    std::printf("  sysfs rx_bytes + tx_bytes   %8.2f us\n", sysfs);
    return 0;
}
