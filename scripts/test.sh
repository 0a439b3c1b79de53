#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs
# every test: checks the formatting, runs the suite under AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer, fuzzes each fuzz target for a
# bounded time, builds, installs and removes the .deb, builds the Windows
# program and runs its tests under Wine, and runs the suite once more in a
# normal build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
jobs="$(nproc)"

echo "== clang-format =="
cd "$root"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== sanitizer build (ASan + LSan + UBSan) =="
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARN_SANITIZE=ON -DZARN_BUILD_BENCH=OFF
cmake --build "$root/build-asan" -j "$jobs"
# Leak checking is on. One suppression: Qt's Wayland plugin leaves
# libwayland-client's proxies at exit (scripts/lsan.supp); neither our code
# nor the other libraries the tests load (fontconfig, the X11 plugin) leave
# anything unreachable.
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$root/scripts/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

echo "== fuzzing, 20 s a target =="
"$root/scripts/fuzz.sh" 20

echo "== package: build, validate, install, start, remove =="
ZARN_PACKAGE_BUILD="$root/build" "$root/scripts/package-check.sh"

echo "== Windows: cross build, tests under Wine, zip =="
"$root/scripts/windows.sh"

# Last, so that the closing lines are the whole suite's summary. The package
# check configured this folder without tests; this turns them back on and
# reuses the program it built.
echo "== build and test =="
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARN_BUILD_TESTS=ON -DZARN_BUILD_BENCH=ON
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

