#!/usr/bin/env bash
# Builds SQLite's C library for 64-bit Windows from Debian's own sqlite3
# source, cross-compiled with mingw-w64, into a cache folder outside the
# checkout: a static library and its header, where CMake's FindSQLite3
# looks. Reused when the stamp matches. Prints the
# install path as its last line.
#
#   ZARN_SQLITE_MINGW_CACHE  cache folder (default /var/cache/zarn-sqlite-mingw)
set -euo pipefail
cache="${ZARN_SQLITE_MINGW_CACHE:-/var/cache/zarn-sqlite-mingw}"
version="3.40.1"
prefix="$cache/sqlite-$version"
# Thread-safe; no extension loading, which the program never does; double-
# quoted strings are never taken for identifiers.
cflags=(-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION=1 -DSQLITE_DQS=0)
stamp="$(printf '%s\n' "$version" "${cflags[@]}" | sha256sum | cut -c1-16)"
if [ -f "$prefix/zarn-stamp" ] && [ "$(cat "$prefix/zarn-stamp")" = "$stamp" ]; then
  echo "SQLite for mingw: reusing $prefix"
  echo "$prefix"
  exit 0
fi
started=$(date +%s)

. "$(dirname "$0")/apt-need.sh"
need_packages gcc-mingw-w64-x86-64-posix gcc tcl dpkg-dev make

src="$cache/src/sqlite3-$version"
if [ ! -f "$src/configure" ]; then
  # build-qt-mingw.sh adds the deb-src entry apt-get source needs.
  rm -rf "$cache/src"
  mkdir -p "$cache/src"
  (cd "$cache/src" && apt-get source --download-only sqlite3 &&
    tar xJf "sqlite3_$version.orig.tar.xz")
fi
build="$cache/build"
rm -rf "$build" "$prefix"
mkdir -p "$build" "$prefix/lib" "$prefix/include"
# SQLite's configure does not cross-build for Windows, but the one-file
# source it makes with the host's tclsh is the same for every system; only
# that step runs on the host, and mingw compiles the result.
(cd "$build" && "$src/configure" --disable-tcl >configure.log && make sqlite3.c >make.log)
x86_64-w64-mingw32-gcc-posix "${cflags[@]}" -c "$build/sqlite3.c" -o "$build/sqlite3.o"
x86_64-w64-mingw32-ar rcs "$prefix/lib/libsqlite3.a" "$build/sqlite3.o"
cp "$build/sqlite3.h" "$prefix/include/"
rm -rf "$build"
echo "$stamp" >"$prefix/zarn-stamp"
echo "SQLite for mingw: built in $(($(date +%s) - started)) s into $prefix"
echo "$prefix"
