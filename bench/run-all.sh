#!/usr/bin/env bash
# Every benchmark of the project in one run, on one Release tree, and one
# table of the figures that have goals: each figure, the peer's, the ratio,
# the goal and whether it is met. Everything each benchmark printed is kept
# in the results folder beside the table and the two plots.
#
#   bench/run-all.sh [--out DIR] [--quick] [--asan] [--doc]
#     --quick  shorter runs (for trying the script, not for figures)
#     --asan   also a short flood into the AddressSanitizer/UBSan build
#              (build-asan/, as scripts/test.sh builds it): nothing lost,
#              and a leak would show as exit status 23
#     --doc    also copy the plots to docs/performance/ and the table to
#              docs/performance/table.md
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

OUT="$ROOT/bench-results/$(date -u +%Y%m%d-%H%M%S)"
QUICK=0
DOC=0
ASAN=0
while [ $# -gt 0 ]; do
    case "$1" in
        --out) OUT="$2"; shift ;;
        --quick) QUICK=1 ;;
        --doc) DOC=1 ;;
        --asan) ASAN=1 ;;
        -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
mkdir -p "$OUT"

ensure_packages "${BUILD_PACKAGES[@]}" libssl-dev openssl rsyslog rsyslog-openssl wrk apache2-utils nginx-light curl python3 python3-matplotlib snmpsim snmp fping iputils-ping
BUILD_DIR=build-release
# The program and the benchmark programs only: the tests are not timed here.
echo "Building into $BUILD_DIR/ (Release) ..." >&2
cmake -S "$ROOT" -B "$ROOT/$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release >"$OUT/build.log" 2>&1 &&
    cmake --build "$ROOT/$BUILD_DIR" --target quillmark udp_flood tcp_flood ingest_latency event_list_gui_bench poller_bench \
        intake_bench rules_bench relay_bench event_list_bench expression_bench graph_bench script_bench \
        -- -j"$(nproc)" >>"$OUT/build.log" 2>&1 || { cat "$OUT/build.log" >&2; exit 1; }
export QM_BENCH_NO_BUILD=1
B="$ROOT/$BUILD_DIR/bench"

if [ "$QUICK" = 1 ]; then
    CURVE_SECS=2; LONG_SECS=5; HTTP_SECS=2; GUI_SECS=5; SUSTAINED_RUNS=1
else
    CURVE_SECS=10; LONG_SECS=60; HTTP_SECS=10; GUI_SECS=60; SUSTAINED_RUNS=3
fi

{
    echo "commit: $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)"
    echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpu: $(nproc) x $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
    echo "memory: $(awk '/MemTotal/ {printf "%.1f GB", $2 / 1048576}' /proc/meminfo)"
    echo "kernel: $(uname -r)"
    echo "load at start: $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$OUT/machine.txt"

step() {  # name command...
    local name="$1"; shift
    echo "== $name" >&2
    if ! "$@" >"$OUT/$name.txt" 2>"$OUT/$name.err"; then
        echo "   $name failed; see $OUT/$name.err" >&2
    fi
    echo "   load: $(cut -d' ' -f1 /proc/loadavg)" >&2
    echo "$name $(cut -d' ' -f1 /proc/loadavg)" >>"$OUT/load.txt"
}

step ingest-curve "$ROOT/bench/ingest/run.sh" --no-search --rates "50000 100000 150000 200000 250000" \
    --secs "$CURVE_SECS" --size 400
# The sustained flood three times with each sender: the goal is no loss in
# every run, not on average. The GSO sender batches 64 datagrams into one
# send; the plain one sends each datagram by itself, as devices do, and
# costs the loopback path more per datagram.
for run in $(seq "$SUSTAINED_RUNS"); do
    step "ingest-sustained-$run" "$ROOT/bench/ingest/run.sh" --no-search --rates 250000 --secs "$LONG_SECS" --size 400
    step "ingest-sustained-plain-$run" "$ROOT/bench/ingest/run.sh" --plain --no-search --rates 250000 --secs "$LONG_SECS" --size 400
done
# CPU per stored message at 100k/s of short lines, where the per-message
# work and not the bytes decides, three times: the goal holds in every run.
for run in $(seq "$SUSTAINED_RUNS"); do
    step "ingest-cpu-$run" "$ROOT/bench/ingest/run.sh" --no-search --rates 100000 --secs "$CURVE_SECS" --size 64
done
# TCP and TLS: 100k/s over 10 connections against rsyslog's imptcp and its TLS input.
step ingest-tcp "$ROOT/bench/ingest/tcp_run.sh" --secs "$CURVE_SECS" --size 400
step ingest-max "$ROOT/bench/ingest/run.sh" $([ "$QUICK" = 1 ] && echo --quick) --size 400
step http "$ROOT/bench/http/run.sh" --build-dir "$BUILD_DIR" --secs "$HTTP_SECS"
step footprint "$ROOT/bench/ingest/footprint.sh" --build-dir "$BUILD_DIR"
step gui-stall env QT_QPA_PLATFORM=offscreen "$B/event_list_gui_bench" "$GUI_SECS" 10000 100000
step gui-stall-filter env QT_QPA_PLATFORM=offscreen "$B/event_list_gui_bench" "$GUI_SECS" 10000 100000 filter
step pollers "$ROOT/bench/pollers/run.sh" --no-build --build-dir "$BUILD_DIR"
step monitor "$ROOT/bench/monitor/run.sh" --build-dir "$BUILD_DIR" $([ "$QUICK" = 1 ] && echo --cycles 3)
for b in intake_bench rules_bench relay_bench event_list_bench expression_bench graph_bench script_bench; do
    step "$b" env QT_QPA_PLATFORM=offscreen "$B/$b"
done

if [ "$ASAN" = 1 ]; then
    echo "== building build-asan/ (Debug, AddressSanitizer/UBSan) ..." >&2
    { cmake -S "$ROOT" -B "$ROOT/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON &&
        cmake --build "$ROOT/build-asan" --target quillmark udp_flood -- -j"$(nproc)"; } >"$OUT/asan-build.log" 2>&1 ||
        echo "   the sanitizer build failed; see $OUT/asan-build.log" >&2
    step ingest-asan "$ROOT/bench/ingest/run.sh" --build-dir build-asan --no-search --rates 20000 \
        --secs "$([ "$QUICK" = 1 ] && echo 3 || echo 20)" --size 400
fi

# Debian's own Python, where python3-matplotlib goes.
/usr/bin/python3 "$ROOT/bench/report.py" "$OUT"
if [ "$DOC" = 1 ]; then
    mkdir -p "$ROOT/docs/performance"
    cp "$OUT/ingest.png" "$OUT/http.png" "$OUT/table.md" "$OUT/machine.txt" "$ROOT/docs/performance/"
fi
echo "results: $OUT" >&2
