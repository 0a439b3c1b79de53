# Sourced by the build scripts: need_packages installs those of the Debian
# packages it is given that are not installed yet, with apt-get (through
# sudo when not root, as SUDO says).
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo)
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    "${SUDO[@]}" apt-get update
    "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
      "${missing[@]}"
  fi
}
