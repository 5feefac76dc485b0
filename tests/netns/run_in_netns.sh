#!/usr/bin/env bash
# Runs a test program inside a network namespace of its own, whose loopback interface carries the
# limited broadcast (255.255.255.255); the namespace is removed afterwards. Where namespaces
# cannot be made (no root, no iproute2) the test is reported as skipped (exit 77).
set -u
program=$1
ns="tavrin-test-$$"
if ! command -v ip >/dev/null 2>&1 || ! ip netns add "$ns" 2>/dev/null; then
    echo "skipped: cannot create a network namespace here (needs root and iproute2)"
    exit 77
fi
trap 'ip netns delete "$ns" 2>/dev/null' EXIT
ip netns exec "$ns" ip link set lo up
ip netns exec "$ns" ip route add 255.255.255.255/32 dev lo
ip netns exec "$ns" env TAVRIN_IN_TEST_NETNS=1 "$program"
