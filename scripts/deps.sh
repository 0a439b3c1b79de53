#!/usr/bin/env bash
# Installs what building, running and testing Zarn Bandwidth needs on Debian 12.
# Uses sudo when not run as root. Safe to run again: apt-get skips what is there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libqt6svg6-dev libgl-dev
  # the X11 window states Qt has no flag for (the mini window off the taskbar)
  libxcb1-dev
  # the usage history's store
  libsqlite3-dev
  # the Tahoma face the windows are laid out for (Wine's free Tahoma)
  fonts-wine fonts-dejavu-core
  # tests: real kernel interfaces in namespaces, a real X desktop with a tray
  iproute2 iperf3 xvfb xauth openbox trayer xdotool x11-utils imagemagick
  # a private session bus for the StatusNotifierItem desktop test, and GLib's
  # desktop-entry launcher for the autostart test
  dbus python3-gi libglib2.0-bin
  # real StatusNotifierItem hosts: XFCE's panel on X11, and a headless
  # Wayland session (sway with waybar's tray, Xwayland, grim for screenshots;
  # Qt's Wayland platform for the native-Wayland part)
  xfce4-panel sway waybar xwayland grim qt6-wayland
  # headless GNOME Shell, stock and with the AppIndicator extension (its
  # StatusNotifierItem host); gjs runs the shell's notification server
  gnome-shell gnome-shell-extension-appindicator gjs
  # the Usage window's desktop test: a notification server, and the
  # accessibility bus to read the windows' figures
  dunst at-spi2-core python3-pyatspi
  # benchmarks: the desktop's own monitors beside the program (conky, also
  # drawing rate graphs, and XFCE's netload plugin)
  conky-std xfce4-netload-plugin
  # quality gates; libFuzzer's runtime for the fuzz targets; valgrind for
  # the memcheck run of the soak test
  clang clang-format libclang-rt-14-dev valgrind
  # packaging checks
  dpkg-dev appstream desktop-file-utils file lintian
  # the Windows build: the cross compiler (posix threads), Qt's source
  # unpacker, the tclsh that makes SQLite's one-file source, and Wine to run
  # the tests and the program
  g++-mingw-w64-x86-64-posix xz-utils tcl wine64
)

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
else
  SUDO=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${SUDO[@]}" apt-get update
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
