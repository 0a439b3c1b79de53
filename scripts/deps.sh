#!/usr/bin/env bash
# Installs the Debian 12 packages Zarn Bandwidth needs: with --run only what
# building and running the program needs (the run command's share), without
# it also everything the tests, the quality gates and the Windows build use.
# Uses sudo when not run as root. Safe to run again: apt-get skips what is there.
set -euo pipefail

# Building and running: the compiler and build tools, the Qt and SQLite the
# program links, and the fonts its windows are laid out for.
run_packages=(
  cmake ninja-build g++ pkg-config ccache
  # qt6-svg-dev by its own name: dpkg-query does not see the libqt6svg6-dev
  # it provides, and every run would go to apt-get again
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  # the X11 window states Qt has no flag for (the mini window off the taskbar)
  libxcb1-dev
  # the usage history's store
  libsqlite3-dev
  # the Tahoma face the windows are laid out for (Wine's free Tahoma)
  fonts-wine fonts-dejavu-core
  # Qt's Wayland platform, for sessions without Xwayland (the .deb
  # recommends it too)
  qt6-wayland
)

# Only the tests and the release checks use these.
test_packages=(
  # real kernel interfaces in namespaces, a real X desktop with a tray
  iproute2 iperf3 xvfb xauth openbox trayer xdotool x11-utils imagemagick
  # a private session bus for the StatusNotifierItem desktop test, and GLib's
  # desktop-entry launcher for the autostart test
  dbus python3-gi libglib2.0-bin
  # real StatusNotifierItem hosts: XFCE's panel on X11, and a headless
  # Wayland session (sway with waybar's tray, Xwayland, grim for screenshots)
  xfce4-panel sway waybar xwayland grim
  # headless GNOME Shell, stock and with the AppIndicator extension (its
  # StatusNotifierItem host); gjs runs the shell's notification server
  gnome-shell gnome-shell-extension-appindicator gjs
  # headless KDE Plasma 5.27 on Xvfb: plasmashell (tray, notification
  # server), its panel, kwin for X11
  plasma-desktop kwin-x11
  # the Usage window's desktop test: a notification server, and the
  # accessibility bus to read the windows' figures
  dunst at-spi2-core python3-pyatspi
  # benchmarks: the desktop's own monitors beside the program (conky, also
  # drawing rate graphs, and XFCE's netload plugin)
  conky-std xfce4-netload-plugin
  # quality gates; libFuzzer's runtime for the fuzz targets; valgrind for
  # the memcheck run of the soak test
  clang clang-format libclang-rt-14-dev valgrind
  # packaging checks (devscripts for hardening-check); python3 and setpriv
  # run the squatter in the running-copy test as another user
  dpkg-dev appstream desktop-file-utils file lintian devscripts python3 util-linux
  # the Windows build: the cross compiler (posix threads), Qt's source
  # unpacker, the tclsh that makes SQLite's one-file source, NSIS for the
  # installer, and Wine to run the tests, the program and the installer
  g++-mingw-w64-x86-64-posix xz-utils tcl nsis wine64
)

case "${1:-}" in
  --run) packages=("${run_packages[@]}") ;;
  "") packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: $0 [--run]" >&2
    exit 2
    ;;
esac

. "$(dirname "$0")/apt-need.sh"
need_packages "${packages[@]}"
