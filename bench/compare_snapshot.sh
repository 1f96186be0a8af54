#!/usr/bin/env bash
# Measures `kestrel-snapshot > /dev/null` against `ss -tan` and `ss -tanp` while
# kestrel-socket-load holds 1,000, 18,000 and 110,000 loopback TCP sockets (plus 100 UDP
# sockets), side by side in one run, and prints the medians and ratios.
#
#   bench/compare_snapshot.sh [build-dir]        (default: build/default)
#
# RUNS (default 7) rounds per size; at 50,000 sockets and more `ss -tanp` takes many seconds
# per run, so it gets SLOW_RUNS (default 3). SIZES overrides the socket counts.
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD=${1:-build/default}
SNAPSHOT=$BUILD/src/app/kestrel-snapshot
LOAD=$BUILD/bench/kestrel-socket-load
RUNS=${RUNS:-7}
SLOW_RUNS=${SLOW_RUNS:-3}
SIZES=${SIZES:-"1000 18000 110000"}
UDP=100

for tool in "$SNAPSHOT" "$LOAD"; do
    if [[ ! -x $tool ]]; then
        echo "missing $tool: build the targets kestrel-snapshot and kestrel-socket-load first" >&2
        exit 1
    fi
done
command -v ss >/dev/null || { echo "ss (iproute2) is needed" >&2; exit 1; }

echo "descriptors per process: soft $(ulimit -Sn), hard $(ulimit -Hn);" \
     "fs.nr_open $(cat /proc/sys/fs/nr_open)"
echo "ephemeral ports: $(tr '\t' ' ' < /proc/sys/net/ipv4/ip_local_port_range)" \
     "(the load uses one address pair per worker process, 127.1.w.1 <- 127.2.w.1)"
echo "user: $(id -un); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# Wall time of one run in microseconds, output discarded.
time_us() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

seconds() {
    awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'
}

tcp_count() {
    ss -tan | tail -n +2 | wc -l
}

wait_for_quiet() {
    local baseline=$1 deadline=$((SECONDS + 180))
    while (( $(tcp_count) > baseline + 50 && SECONDS < deadline )); do
        sleep 0.5
    done
}

baseline=$(tcp_count)
results=()
for size in $SIZES; do
    coproc LOADER { exec "$LOAD" --tcp-sockets "$size" --udp-sockets "$UDP"; }
    loader_pid=$LOADER_PID
    if ! read -r -t 900 status held_tcp held_udp <&"${LOADER[0]}" || [[ $status != ready ]]; then
        echo "the load helper could not open $size sockets" >&2
        kill "$loader_pid" 2>/dev/null || true
        exit 1
    fi
    seen=$(tcp_count)

    runs=$RUNS
    slow=$RUNS
    (( size >= 50000 )) && slow=$SLOW_RUNS
    # One untimed run each, so that every tool starts with warm caches.
    time_us "$SNAPSHOT" > /dev/null; time_us ss -tan > /dev/null
    k=(); t=(); p=()
    for ((i = 0; i < runs; i++)); do
        k+=("$(time_us "$SNAPSHOT")")
        t+=("$(time_us ss -tan)")
        if (( i < slow )); then p+=("$(time_us ss -tanp)"); fi
    done
    km=$(printf '%s\n' "${k[@]}" | median)
    tm=$(printf '%s\n' "${t[@]}" | median)
    pm=$(printf '%s\n' "${p[@]}" | median)

    exec {LOADER[1]}>&-
    wait "$loader_pid" || true
    wait_for_quiet "$baseline"

    results+=("$(printf '%8s %8s %10s %10s %10s %12s %11s' "$size" "$seen" \
        "$(seconds "$km")" "$(seconds "$tm")" "$(seconds "$pm")" \
        "$(ratio "$km" "$pm")" "$(ratio "$km" "$tm")")")
    echo "done: $size sockets (held $held_tcp TCP + $held_udp UDP, ss saw $seen TCP lines)" >&2
done

echo
echo "medians in seconds; $RUNS runs each ($SLOW_RUNS of ss -tanp from 50,000 sockets)"
printf '%8s %8s %10s %10s %10s %12s %11s\n' sockets seen kestrel "ss -tan" "ss -tanp" \
    "k/ss-tanp" "k/ss-tan"
for line in "${results[@]}"; do
    echo "$line"
done
echo
echo "targets: k/ss-tanp <= 0.5 at 18,000 sockets; k/ss-tan <= 1.5 at 100,000 and more"
