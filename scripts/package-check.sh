#!/usr/bin/env bash
# Builds the .deb with CPack, validates the launcher and the AppStream
# metainfo, checks the icon is a vector drawing, runs lintian on the package
# (no error or warning may remain), installs the package with apt-get
# (which pulls its dependencies), checks the installed files, starts
# the installed program for a few seconds on the offscreen platform, and
# removes the package again, also when a step fails. lintian and
# hardening-check both check that the program is built hardened.
#
# ZARN_PACKAGE_BUILD names the build folder (default build-package).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZARN_PACKAGE_BUILD:-$root/build-package}"
jobs="$(nproc)"
app_id="example.zarndev.ZarnBandwidth"
package="zarn-bandwidth"
if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
"$root/scripts/deps.sh"

fail() {
  echo "package check: $*" >&2
  exit 1
}

echo "== validate the launcher and the metainfo =="
desktop-file-validate "$root/packaging/$app_id.desktop"
appstreamcli validate --no-net "$root/packaging/$app_id.metainfo.xml"

echo "== build the package =="
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

svg="$build/icons/scalable/apps/$app_id.svg"
# A real vector drawing: shapes, and no bitmap embedded in the SVG.
grep -Eq '<(path|polygon|polyline|rect|ellipse)' "$svg" || fail "$svg has no vector shapes"
if grep -q '<image' "$svg"; then fail "$svg embeds a bitmap"; fi

rm -f "$build"/"$package"_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb="$(ls "$build"/"$package"_*.deb)"
echo "built $deb"
dpkg-deb --field "$deb" Package Version Depends

echo "== lintian =="
# Debian's own checks of the package: any error or warning fails, and so does
# any hardening tag (lintian files those as information only). The notice
# that lintian runs as root is no tag and does not count.
lintian_out="$(lintian --fail-on error,warning --display-info "$deb")" ||
  fail "lintian found errors or warnings: $lintian_out"
[ -z "$lintian_out" ] || echo "$lintian_out"
if grep -q 'hardening-' <<<"$lintian_out"; then fail "lintian: the program is not hardened"; fi
version="$(dpkg-deb --field "$deb" Version)"
grep -q "^\.TH .*\"Zarn Bandwidth $version\"" "$root/packaging/zarn-bandwidth.1" ||
  fail "the manual page names another version than $version"

if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
  fail "$package is installed already; remove it first (this check installs and removes it)"
fi

echo "== install =="
remove() { "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y "$package" >/dev/null || true; }
trap remove EXIT
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$deb"

share=/usr/share
expected=(
  /usr/bin/zarn-bandwidth
  "$share/applications/$app_id.desktop"
  "$share/metainfo/$app_id.metainfo.xml"
  "$share/icons/hicolor/scalable/apps/$app_id.svg"
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("$share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for f in "${expected[@]}"; do
  [ -s "$f" ] || fail "missing after install: $f"
done
[ -x /usr/bin/zarn-bandwidth ] || fail "/usr/bin/zarn-bandwidth is not executable"
# PIE, stack protector, fortified libc calls, read-only relocations bound
# at start: the installed program as Debian's own are. Not control-flow
# protection: it is compiled in, but the linker marks a program for it only
# when every object is, and Debian 12's C start files (crt1.o, crti.o) are
# not; its own dpkg and ssh show "Control flow integrity: no" too.
hardening-check --nocfprotection /usr/bin/zarn-bandwidth ||
  fail "/usr/bin/zarn-bandwidth is not hardened"
for size in 16 48 256; do
  file "$share/icons/hicolor/${size}x${size}/apps/$app_id.png" | grep -q "$size x $size" ||
    fail "the ${size}x${size} icon has another size"
done
desktop-file-validate "$share/applications/$app_id.desktop"
appstreamcli validate --no-net "$share/metainfo/$app_id.metainfo.xml"

echo "== start the installed program =="
config="$(mktemp -d)"
set +e
env -i PATH=/usr/bin:/bin HOME="$config" XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=offscreen \
  timeout 3 zarn-bandwidth
rc=$?
set -e
rm -rf "$config"
# Still running when the time ran out: it started and stayed up.
[ "$rc" -eq 124 ] || fail "the installed program ended with status $rc within 3 s"

echo "== remove =="
trap - EXIT
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get purge -y "$package" >/dev/null
[ ! -e /usr/bin/zarn-bandwidth ] || fail "/usr/bin/zarn-bandwidth is left after removal"
echo "package check passed: $(basename "$deb")"
