#!/usr/bin/env bash
# Builds a static Qt (qtbase: Core, Gui, Widgets, Test) for 64-bit Windows
# from Debian's own qt6-base source, cross-compiled with mingw-w64, and
# installs it into a cache folder outside the checkout. Nothing in Debian
# ships Qt for mingw. A finished build is reused: the install carries a stamp
# of the options it was built with, and the script returns at once when the
# stamp matches. Prints the install path as its last line.
#
#   ZARN_QT_MINGW_CACHE  cache folder (default /var/cache/zarn-qt-mingw)
#   ZARN_QT_MINGW_JOBS   parallel jobs (default: number of cores)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${ZARN_QT_MINGW_CACHE:-/var/cache/zarn-qt-mingw}"
jobs="${ZARN_QT_MINGW_JOBS:-$(nproc)}"
prefix="$cache/qt-6.4.2-static"
started=$(date +%s)

# The feature set: everything the program and its tests do not use is off,
# which also keeps the build within half an hour on two cores. OpenGL,
# Vulkan and Direct2D are off so no GPU path exists to fail under Wine;
# tablet events need the wintab headers Debian's tarball leaves out; zstd
# and ICU would need mingw builds of those libraries. FreeType stays: the
# offscreen platform that the tests use draws with it. JPEG, GIF, Markdown
# and ODF are not needed. Qt Network is built for its local sockets alone
# (the running copy's hand-over), without TLS. Changing this list
# rebuilds most of Qt.
options=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=OFF
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF
  -DFEATURE_opengl=OFF
  -DINPUT_opengl=no
  -DFEATURE_vulkan=OFF
  -DFEATURE_direct2d=OFF
  -DFEATURE_dynamicgl=OFF
  -DFEATURE_directwrite3=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=ON
  -DFEATURE_openssl=OFF
  -DINPUT_openssl=no
  -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_zstd=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_jpeg=OFF
  -DFEATURE_gif=OFF
  -DFEATURE_textmarkdownreader=OFF
  -DFEATURE_textmarkdownwriter=OFF
  -DFEATURE_textodfwriter=OFF
  -DFEATURE_pkg_config=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
)
stamp="$(printf '%s\n' "${options[@]}" | sha256sum | cut -c1-16)"

if [ -f "$prefix/zarn-stamp" ] && [ "$(cat "$prefix/zarn-stamp")" = "$stamp" ]; then
  echo "Qt for mingw: reusing $prefix"
  echo "$prefix"
  exit 0
fi

# The compiler, the host Qt whose moc, rcc and uic the cross build uses, and
# apt-get source's unpacker.
. "$(dirname "$0")/apt-need.sh"
need_packages g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools cmake ninja-build dpkg-dev xz-utils

mkdir -p "$cache"
src="$cache/src/qtbase"
if [ ! -f "$src/CMakeLists.txt" ]; then
  # apt-get source needs a deb-src entry; add one mirroring the deb entries.
  if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "Adding a deb-src entry for bookworm"
    "${SUDO[@]}" tee /etc/apt/sources.list.d/zarn-deb-src.sources >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    "${SUDO[@]}" apt-get update
  fi
  rm -rf "$cache/src"
  mkdir -p "$cache/src"
  (cd "$cache/src" && apt-get source --download-only qt6-base=6.4.2+dfsg-10 \
    && dpkg-source -x qt6-base_6.4.2+dfsg-10.dsc qtbase)
fi

build="$cache/build"
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  "${options[@]}"
cmake --build "$build" -j "$jobs"
rm -rf "$prefix"
cmake --install "$build"
cp "$root/cmake/mingw-w64-x86_64.cmake" "$prefix/"
echo "$stamp" >"$prefix/zarn-stamp"
# The build folder is 1.8 GB and only needed to rebuild after a change.
[ -n "${ZARN_QT_MINGW_KEEP_BUILD:-}" ] || rm -rf "$build"

elapsed=$(($(date +%s) - started))
echo "Qt for mingw: built in $((elapsed / 60)) min $((elapsed % 60)) s into $prefix"
echo "$prefix"
