#!/bin/sh
# Runs one kernel test in a network namespace of its own, A, beside a second
# one, B, for the far end of the traffic; removes both afterwards, also when
# the test fails or is interrupted. Only lo is in each (up, IPv6 off, so that
# nothing but the test moves bytes); the test makes its links itself
# (Netns.h). Exit code 77 means skipped.
set -u
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: network namespaces need root; $1 did not run"
    exit 77
fi
for tool in ip iperf3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing; $1 did not run"
        exit 77
    fi
done
a="zarn-$$-a"
b="zarn-$$-b"
if ! ip netns add "$a" 2>/dev/null; then
    echo "SKIP: 'ip netns add' failed (no namespace support here); $1 did not run"
    exit 77
fi
trap 'ip netns del "$a" 2>/dev/null; ip netns del "$b" 2>/dev/null' EXIT
trap 'exit 130' INT TERM
ip netns add "$b" || exit 1
for ns in "$a" "$b"; do
    ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/*/disable_ipv6; do echo 1 > "$f"; done'
    ip -n "$ns" link set lo up || exit 1
done
ZARN_NETNS="$a" ZARN_PEER_NETNS="$b" ip netns exec "$a" "$@"
