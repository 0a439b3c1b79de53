#!/usr/bin/env bash
# Builds the program and the benchmark programs (Release) and prints every
# figure of BENCHMARKS.md. Needs root: each measurement runs inside network
# namespaces made here (1, 4, 100 and 1000 interfaces: lo plus veth links),
# and all traffic stays on their own loopbacks. Takes about six minutes.
#
#   bench/run_benchmarks.sh [BUILD_DIR]      (default: build-bench)
#
# With ZARN_BENCH_BEFORE=REF (a git commit or branch) the build of REF runs
# beside this one in the desktop comparison, and screenshots of both are
# compared pixel by pixel.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"

if [ "$(id -u)" != 0 ]; then
    echo "run as root: the benchmarks make network namespaces" >&2
    exit 1
fi

need=()
for pair in ifstat:ifstat nload:nload iperf3:iperf3 Xvfb:xvfb openbox:openbox trayer:trayer \
            xwininfo:x11-utils xdotool:xdotool cmake:cmake ninja:ninja-build conky:conky-std \
            xfce4-panel:xfce4-panel dbus-daemon:dbus import:imagemagick; do
    command -v "${pair%%:*}" >/dev/null 2>&1 || need+=("${pair#*:}")
done
[ -e /usr/lib/x86_64-linux-gnu/xfce4/panel/plugins/libnetload.so ] || need+=(xfce4-netload-plugin)
if [ "${#need[@]}" -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target zarn-bandwidth bench_interface_read bench_tick \
    bench_rate_accuracy bench_usage bench_adapter_refresh bench_floor_window bench_graph >/dev/null

programs=(--program "$build/zarn-bandwidth")
if [ -n "${ZARN_BENCH_BEFORE:-}" ]; then
    # The earlier build keeps the program's name: X11 tells the windows of
    # the program apart by it.
    before_src="$build-before/src" before_build="$build-before/build"
    rm -rf "$before_src" && mkdir -p "$before_src"
    git -C "$root" archive "$ZARN_BENCH_BEFORE" | tar -x -C "$before_src"
    cmake -S "$before_src" -B "$before_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DZARN_BUILD_TESTS=OFF >/dev/null
    cmake --build "$before_build" -j "$(nproc)" --target zarn-bandwidth >/dev/null
    programs=(--program "before=$before_build/zarn-bandwidth" --program "after=$build/zarn-bandwidth")
fi

spinners=()
# make_ns runs in a command substitution, so what it made is found again by
# the name every namespace of this run carries.
cleanup() {
    for pid in "${spinners[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for ns in $(ip netns list | awk '{print $1}' | grep -E "^zarn-bench-.*-$$(-peer)?$"); do
        ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
        ip netns del "$ns" 2>/dev/null || true
    done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# make_ns NAME COUNT: a namespace holding exactly COUNT interfaces, lo
# included. veth links come in pairs; an odd one out has its peer in a
# second namespace made for that.
make_ns() {
    local ns="zarn-bench-$1-$$" count="$2" pairs i
    ip netns add "$ns"
    ip netns exec "$ns" sh -c 'for f in /proc/sys/net/ipv6/conf/*/disable_ipv6; do echo 1 > "$f"; done'
    ip -n "$ns" link set lo up
    pairs=$(( (count - 1) / 2 ))
    if [ "$pairs" -gt 0 ]; then
        for ((i = 0; i < pairs; i++)); do
            echo "link add zb$i type veth peer name zc$i"
        done | ip -n "$ns" -batch -
    fi
    if [ $(( (count - 1) % 2 )) = 1 ]; then
        ip netns add "$ns-peer"
        ip -n "$ns" link add zodd type veth peer name zodd netns "$ns-peer"
    fi
    echo "$ns"
}

ns1=$(make_ns 1 1)
ns4=$(make_ns 4 4)
ns100=$(make_ns 100 100)
ns1000=$(make_ns 1000 1000)
last_index() { ip -n "$1" -o link show | tail -1 | cut -d: -f1; }

echo "== machine =="
echo "cores: $(nproc)   $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "kernel: $(uname -r)   load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "build: Release ($build)"

echo
echo "== counter read: one interface, real source, beside /proc/net/dev =="
for pair in "$ns1:1" "$ns100:100" "$ns1000:1000"; do
    ns="${pair%%:*}"
    echo "-- ${pair##*:} interfaces (reading the last one, index $(last_index "$ns"))"
    ip netns exec "$ns" "$build/bench/bench_interface_read" "$(last_index "$ns")" | tail -n +2
done

echo
echo "== one whole tick in the real window, offscreen =="
echo "-- kernel source, 1000 interfaces present, a veth link watched"
ip netns exec "$ns1000" "$build/bench/bench_tick" --index "$(last_index "$ns1000")" --ticks 20000 \
    2>/dev/null | grep -v '^cores'
echo "-- fake source whose counters move every tick (every label, tip and picture change)"
"$build/bench/bench_tick" --fake --ticks 20000 2>/dev/null | grep -v '^cores'
echo "-- the same with the Usage window's feature attached, its window hidden"
"$build/bench/bench_tick" --fake --usage --ticks 20000 2>/dev/null | grep -v '^cores'

echo
echo "== the Usage window's live graph, offscreen: one graph, 2000 ticks of a made-up trail =="
for mode in "" --full; do
    QT_QPA_PLATFORM=offscreen "$build/bench/bench_graph" --ticks 2000 $mode 2>/dev/null
done

echo
echo "== the adapter list read again after a change report =="
for pair in "$ns1:1" "$ns100:100" "$ns1000:1000"; do
    echo "-- ${pair##*:} interfaces"
    ip netns exec "${pair%%:*}" "$build/bench/bench_adapter_refresh" --rounds 200 2>/dev/null
done

echo
echo "== resident memory: 1,000,000 ticks against a fake source =="
"$build/bench/bench_tick" --fake --memory --ticks 1000000 2>/dev/null

echo
echo "== rate accuracy: 100 ticks at 300 ms under steady traffic (iperf3 -b 40M on lo),"
echo "   both cores kept busy by two spinning shells =="
ip netns exec "$ns4" iperf3 -s -B 127.0.0.1 -1 -D
sleep 0.5
ip netns exec "$ns4" iperf3 -c 127.0.0.1 -b 40M -t 40 >/dev/null &
traffic=$!
for _ in 1 2; do
    sh -c 'while :; do :; done' &
    spinners+=("$!")
done
sleep 1
ip netns exec "$ns4" "$build/bench/bench_rate_accuracy" --ticks 100 --interval 300 2>/dev/null
kill "${spinners[@]}"
spinners=()
wait "$traffic" || true

echo
echo "== usage history: disk writes, a year's store, report and start-up =="
ip netns exec "$ns4" "$build/bench/bench_usage" "$build/zarn-bandwidth" 2>/dev/null

echo
echo "== desktop: Xvfb + openbox + trayer, the program inside the namespace =="
for ns in "$ns4" "$ns1000"; do
    ip netns exec "$ns" iperf3 -s -B 127.0.0.1 -D 2>/dev/null || true
done
sleep 0.5
for ns in "$ns4" "$ns1000"; do
    # Light steady traffic, so that the labels and the tray change every tick,
    # for longer than all desktop measurements below take together (the three
    # window states of the peers' comparison alone take over six minutes).
    ip netns exec "$ns" iperf3 -c 127.0.0.1 -b 2M -l 1400 -t 900 >/dev/null 2>&1 &
done
python3 "$root/bench/desktop_bench.py" --program "$build/zarn-bandwidth" \
    --startup "$ns1" 1 --startup "$ns1000" 1000 \
    --cpu "$ns4" 4 --cpu "$ns1000" 1000 --usage "$ns4" --seconds 60 --interval 300

echo
echo "== desktop peers: conky (text, and two rate graphs) and xfce4-panel's netload beside the program: window shown, hidden, Usage window on Live =="
python3 "$root/bench/desktop_bench.py" "${programs[@]}" --floor "$build/bench/bench_floor_window" \
    --peers "$ns4" 4 --seconds 30 --interval 300 --rounds "${ZARN_BENCH_ROUNDS:-6}"

if [ -n "${ZARN_BENCH_BEFORE:-}" ]; then
    echo
    echo "== screenshots of $ZARN_BENCH_BEFORE and of this build, pixels that differ =="
    ns_quiet=$(make_ns quiet 1)
    python3 "$root/bench/compare_screens.py" --namespace "$ns_quiet" \
        --before "$before_build/zarn-bandwidth" --after "$build/zarn-bandwidth"
fi
