#!/bin/sh
# Runs a test program inside a fresh network namespace and removes the
# namespace afterwards, also when the program fails or is interrupted.
#
# The namespace holds lo (up) and a veth pair zveth0/zveth1, both up:
#   zveth0  10.200.0.1/24
#   zveth1  10.200.0.9/24 and 10.200.0.2/24 (added in that order)
# IPv6 is off inside it, so nothing but the test itself moves bytes.
#
# Exit code 77 means skipped (no root, or namespaces unavailable).
set -u
skip=77

if [ "$#" -lt 1 ]; then
    echo "usage: $0 TEST_PROGRAM [ARGS...]" >&2
    exit 2
fi
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: creating a network namespace needs root; the kernel tests did not run"
    exit $skip
fi
if ! command -v ip >/dev/null 2>&1; then
    echo "SKIP: the ip command (iproute2) is missing; the kernel tests did not run"
    exit $skip
fi

ns="zarn-test-$$-$(date +%s%N)"
if ! ip netns add "$ns" 2>/dev/null; then
    echo "SKIP: 'ip netns add' failed (no namespace support here); the kernel tests did not run"
    exit $skip
fi
trap 'ip netns del "$ns" 2>/dev/null' EXIT
trap 'exit 130' INT TERM

in_ns() {
    ip -n "$ns" "$@" || { echo "FAIL: ip -n $ns $*" >&2; exit 1; }
}

ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/*/disable_ipv6; do echo 1 > "$f"; done' 2>/dev/null
in_ns link set lo up
in_ns link add name zveth0 type veth peer name zveth1
in_ns addr add 10.200.0.1/24 dev zveth0
in_ns addr add 10.200.0.9/24 dev zveth1
in_ns addr add 10.200.0.2/24 dev zveth1
in_ns link set zveth0 up
in_ns link set zveth1 up

ZARN_NETNS="$ns" ip netns exec "$ns" "$@"
