#!/bin/sh
# Runs the usage history's kernel test between two network namespaces of its
# own, joined by a veth pair, and removes both afterwards, also when the test
# fails or is interrupted:
#   namespace A (the test and the program run here): zveth0 10.201.0.1/24
#   namespace B (the traffic's other end):            zveth1 10.201.0.2/24
# IPv6 is off in both, so only the test moves bytes. `ip netns exec` gives
# the test a mount namespace of its own, where it may mount a small tmpfs.
#
# Exit code 77 means skipped (no root, namespaces or iperf3 unavailable).
set -u
skip=77
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: network namespaces need root; the usage history's kernel test did not run"
    exit $skip
fi
for tool in ip iperf3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing; the usage history's kernel test did not run"
        exit $skip
    fi
done
a="zarn-usage-$$-a"
b="zarn-usage-$$-b"
if ! ip netns add "$a" 2>/dev/null; then
    echo "SKIP: 'ip netns add' failed (no namespace support here)"
    exit $skip
fi
trap 'ip netns del "$a" 2>/dev/null; ip netns del "$b" 2>/dev/null' EXIT
trap 'exit 130' INT TERM
ip netns add "$b" || exit 1
for ns in "$a" "$b"; do
    ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/*/disable_ipv6; do echo 1 > "$f"; done' 2>/dev/null
    ip -n "$ns" link set lo up || exit 1
done
ZARN_NETNS="$a" ZARN_PEER_NETNS="$b" ip netns exec "$a" "$@"
