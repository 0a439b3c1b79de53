#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs
# every test: once in a normal build, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, then checks the formatting.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
jobs="$(nproc)"

echo "== clang-format =="
cd "$root"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== sanitizer build (ASan + UBSan) =="
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARN_SANITIZE=ON -DZARN_BUILD_BENCH=OFF
cmake --build "$root/build-asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

echo "== build and test =="
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
