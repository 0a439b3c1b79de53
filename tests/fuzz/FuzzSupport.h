#pragma once

// A broken property stops the run with the condition and the input, so that
// libFuzzer keeps the input. Without libFuzzer (every build but ZARN_FUZZ's)
// the target runs once over each file of the folders it is given: its seed
// corpus goes through the same checks as a plain CTest test.

#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#define FUZZ_CHECK(cond, input)                                                                    \
    ((cond) ? void()                                                                               \
            : (std::fprintf(stderr, "%s:%d: property broken: %s\n  input: \"%s\"\n", __FILE__,     \
                            __LINE__, #cond, qPrintable(input)),                                   \
               std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

#ifndef ZARN_LIBFUZZER
int main(int, char **argv) {
    int inputs = 0;
    for (char **folder = argv + 1; *folder; ++folder) {
        for (const auto &file : std::filesystem::directory_iterator(*folder)) {
            std::ifstream in(file.path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in), {}};
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                   bytes.size());
            ++inputs;
        }
    }
    std::printf("%d inputs, every property held\n", inputs);
    return inputs == 0 ? 1 : 0;
}
#endif
