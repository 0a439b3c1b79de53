#!/usr/bin/env bash
# The Windows build: a static Qt and SQLite for mingw-w64 (each built once
# into a cache folder, see build-qt-mingw.sh and build-sqlite-mingw.sh), the
# program and its tests cross-built with warnings as errors, the tests run
# under Wine (the unit and widget tests headless in a Wine prefix of the
# build folder's own; the installer and the whole program it installs once on
# Xvfb), the zip and the installer. Prints the time of each part.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZARN_WINDOWS_BUILD:-$root/build-windows}"
jobs="$(nproc)"
"$root/scripts/deps.sh"

seconds() { echo $(($(date +%s) - $1)); }

started=$(date +%s)
qt="$("$root/scripts/build-qt-mingw.sh" | tee >(cat >&2) | tail -n 1)"
sqlite="$("$root/scripts/build-sqlite-mingw.sh" | tee >(cat >&2) | tail -n 1)"
qt_seconds=$(seconds "$started")

started=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_PREFIX_PATH="$qt;$sqlite" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DZARN_BUILD_TESTS=ON -DZARN_BUILD_BENCH=OFF
cmake --build "$build" -j "$jobs"
build_seconds=$(seconds "$started")

started=$(date +%s)
ctest --test-dir "$build" --output-on-failure
test_seconds=$(seconds "$started")

zip="$(ls "$build"/ZarnBandwidth-*-windows-x64.zip)"
setup="$(ls "$build"/ZarnBandwidth-*-windows-x64-setup.exe)"
echo "Windows: Qt and SQLite ${qt_seconds} s, program and tests built in ${build_seconds} s," \
  "tests under Wine ${test_seconds} s; $(basename "$zip") $(du -k "$zip" | cut -f1) KiB," \
  "$(basename "$setup") $(du -k "$setup" | cut -f1) KiB"
