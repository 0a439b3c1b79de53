#!/bin/sh
# Runs one kernel test in a namespace of its own beside a second one,
# ZARN_PEER_NETNS, both holding only lo with IPv6 off so that nothing but the
# test moves bytes, and removes them afterwards. Exit code 77: skipped.
set -u
skip() { echo "SKIP: $1; $2 did not run"; exit 77; }
[ "$(id -u)" = 0 ] || skip "network namespaces need root" "$1"
command -v ip >/dev/null && command -v iperf3 >/dev/null || skip "ip or iperf3 is missing" "$1"
a="zarn-$$-a" b="zarn-$$-b"
trap 'ip netns del "$a" 2>/dev/null; ip netns del "$b" 2>/dev/null' EXIT
trap 'exit 130' INT TERM
ip netns add "$a" 2>/dev/null && ip netns add "$b" || skip "'ip netns add' failed" "$1"
for ns in "$a" "$b"; do
    ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/*/disable_ipv6; do echo 1 > "$f"; done'
    ip -n "$ns" link set lo up || exit 1
done
ZARN_PEER_NETNS="$b" ip netns exec "$a" "$@"
