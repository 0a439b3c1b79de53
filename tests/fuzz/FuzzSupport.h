#pragma once

// A broken property aborts, naming the QString input in scope, so that libFuzzer keeps the
// input. Without libFuzzer the target reads each file of the folders it is given, once.

#include <QDirIterator>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                           \
    ((cond) ? void()                                                                               \
            : (std::fprintf(stderr, "broken: %s\n%s\n", #cond, qPrintable(input)), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

#ifndef ZARN_LIBFUZZER
int main(int argc, char **argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i)
        for (QDirIterator it(QFile::decodeName(argv[i]), QDir::Files); it.hasNext(); ++inputs) {
            QFile file(it.next());
            const QByteArray b = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(b.data()), b.size());
        }
    std::printf("%d inputs, every property held\n", inputs);
    return inputs == 0;
}
#endif
