#!/usr/bin/env bash
# Memory and latency of the program as it is started for use: resident
# memory idle (windows on Qt's offscreen platform), resident memory with
# 100,000 events waiting in the processing queue, the events all back from
# log_last.log after the stop, and the datagram -> queue latency at 10k/s.
#
#   bench/ingest/footprint.sh [--build-dir DIR] [--events N] [--size L] [--keep]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/bench/ingest/common.sh"

BUILD_DIR=build-release
EVENTS=100000
SIZE=400
KEEP=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift ;;
        --events) EVENTS="$2"; shift ;;
        --size) SIZE="$2"; shift ;;
        --keep) KEEP=1 ;;
        -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || ensure_packages "${BUILD_PACKAGES[@]}"
[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || build_release_quietly "$BUILD_DIR"
QM="$ROOT/$BUILD_DIR/quillmark"
FLOOD="$ROOT/$BUILD_DIR/bench/udp_flood"
LATENCY="$ROOT/$BUILD_DIR/bench/ingest_latency"
TMP="$(mktemp -d "${TMPDIR:-/tmp}/qm-footprint.XXXXXX")"
PID=""
cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill -KILL "$PID" 2>/dev/null || true; fi
    if [ "$KEEP" = 1 ]; then echo "kept $TMP" >&2; else rm -rf "$TMP"; fi
}
trap cleanup EXIT

udp_line() { grep -E "^ *[0-9]+: 0100007F:$(printf '%04X' "$1") " /proc/net/udp || true; }
# Until the socket is empty and the process has used no CPU for a second.
wait_quiet() {
    local last=-1 now still=0 i
    for ((i = 0; i < 600; i++)); do
        now="$(cpu_ticks "$PID")"
        if [ "$now" -le $((last + 1)) ] && [ "$(udp_line "$PORT" | awk '{split($5, q, ":"); print q[2]}')" = 00000000 ]; then
            still=$((still + 1)); [ "$still" -ge 10 ] && return 0
        else
            still=0
        fi
        last="$now"; sleep 0.1
    done
}

PORT=$((20000 + RANDOM % 20000))
HOME_DIR="$TMP/home"
mkdir -p "$HOME_DIR/Settings"
cp "$ROOT"/resources/default-home/Settings/*.ini "$HOME_DIR/Settings/"
sed -i -e "s/^Item.0-Port=.*/Item.0-Port=$(struct_u32 "$PORT")/" \
       -e "s/^Item.0-StrName=.*/Item.0-StrName=127.0.0.1/" "$HOME_DIR/Settings/mod_collector.ini"
# The writer leaves the queue alone until it holds more than the events sent.
sed -i -e "s/^Common.MsgLimit=.*/Common.MsgLimit=$(struct_u32 $((EVENTS * 2)))/" "$HOME_DIR/Settings/mod_dbase.ini"

QUILLMARK_HOME="$HOME_DIR" QT_QPA_PLATFORM=offscreen "$QM" >"$TMP/stdout" 2>"$TMP/stderr" &
PID=$!
for ((i = 0; i < 200; i++)); do [ -n "$(udp_line "$PORT")" ] && break; sleep 0.05; done
[ -n "$(udp_line "$PORT")" ] || { echo "quillmark did not bind 127.0.0.1:$PORT" >&2; cat "$TMP/stderr" >&2; exit 1; }
sleep 2
wait_quiet
IDLE="$(rss_mb)"
"$FLOOD" send --port "$PORT" --count "$EVENTS" --rate 50000 --size "$SIZE" >"$TMP/send.txt"
wait_quiet
sleep 1  # a mover turn at least
QUEUED="$(rss_mb)"
PEAK="$(hwm_mb)"
kill -TERM "$PID"
wait "$PID" || true
PID=""
VERIFY="$("$FLOOD" verify --expect "$EVENTS" "$HOME_DIR"/Logs/*.log 2>&1 || true)"

echo "Resident memory of quillmark (windows on Qt's offscreen platform), $(nproc) CPU(s)"
echo "idle: ${IDLE} MB (goal <= 40 MB)"
echo "with $EVENTS events of $SIZE bytes in the queue: ${QUEUED} MB, peak ${PEAK} MB (goal <= 150 MB)"
echo "after the stop, in the log files: $(sed -n 's/.*\(unique=[0-9]* missing=[0-9]*\).*/\1/p' <<<"$VERIFY" | head -1)"
"$LATENCY" --rate 10000 --secs 10 --size 200
