#!/usr/bin/env bash
# Lossless-ingest benchmark: Quillmark against rsyslog, both receiving the
# same numbered UDP syslog stream on 127.0.0.1. See bench/ingest/README.md.
#
#   bench/ingest/run.sh [--quick] [--build-dir DIR] [--raise-rmem] [--gso G | --plain] [--keep] [--port N]
#                       [--rates "R1 R2 ..."] [--secs S] [--no-search] [--size L]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/bench/ingest/common.sh"

QUICK=0
BUILD_DIR=build-release  # not build/: that one is the run script's RelWithDebInfo tree
RAISE_RMEM=0
KEEP=0
# Datagrams per sendmmsg message through UDP segmentation offload: without it
# the sender, which pays for most of the loopback path, tops out near 200k/s
# on two cores. The receivers still get one datagram at a time.
GSO=64
# --plain: one sendto per datagram, as devices and logger send; the sender
# then needs most of a core of its own at 250k/s.
SENDER=(--gso "$GSO")
RATES_ARG=""
SECS_ARG=""
SEARCH=1
SIZE=120
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) QUICK=1 ;;
        --build-dir) BUILD_DIR="$2"; shift ;;
        --raise-rmem) RAISE_RMEM=1 ;;
        --keep) KEEP=1 ;;
        --gso) GSO="$2"; SENDER=(--gso "$GSO"); shift ;;
        --plain) SENDER=(--plain) ;;
        --port) NEXT_PORT="$2"; shift ;;
        --rates) RATES_ARG="$2"; shift ;;
        --secs) SECS_ARG="$2"; shift ;;
        --no-search) SEARCH=0 ;;
        --size) SIZE="$2"; shift ;;
        -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

FIXED_RATES=(50000 100000 200000)
SEARCH_MIN=25000
SEARCH_MAX=1600000
if [ "$QUICK" = 1 ]; then
    FIXED_SECS=1; SEARCH_SECS=1; BISECT_STEPS=2
else
    FIXED_SECS=3; SEARCH_SECS=3; BISECT_STEPS=5
fi
# shellcheck disable=SC2206
[ -n "$RATES_ARG" ] && FIXED_RATES=($RATES_ARG)
[ -n "$SECS_ARG" ] && FIXED_SECS="$SECS_ARG"
# The receive buffer Quillmark asks for (SO_RCVBUF) in its listener.
QM_RCVBUF=$((8 * 1024 * 1024))

# --- set-up -------------------------------------------------------------------

[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || ensure_packages "${BUILD_PACKAGES[@]}" rsyslog
RSYSLOGD="$(command -v rsyslogd || echo /usr/sbin/rsyslogd)"
[ -x "$RSYSLOGD" ] || { log "rsyslogd not found"; exit 1; }

[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || build_release_quietly "$BUILD_DIR"
QM="$ROOT/$BUILD_DIR/quillmark"
FLOOD="$ROOT/$BUILD_DIR/bench/udp_flood"

TMPROOT="$(mktemp -d "${TMPDIR:-/tmp}/qm-ingest.XXXXXX")"
RMEM_FILE=/proc/sys/net/core/rmem_max
RMEM_ORIG="$(cat "$RMEM_FILE")"
RMEM_CHANGED=0

cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill -KILL "$PID" 2>/dev/null || true; fi
    if [ "$RMEM_CHANGED" = 1 ]; then echo "$RMEM_ORIG" >"$RMEM_FILE" && log "restored rmem_max=$RMEM_ORIG"; fi
    if [ "$KEEP" = 1 ]; then log "kept $TMPROOT"; else rm -rf "$TMPROOT"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

RMEM_NOTE="net.core.rmem_max=$RMEM_ORIG"
if [ "$RMEM_ORIG" -lt "$QM_RCVBUF" ]; then
    if [ "$RAISE_RMEM" = 1 ] && [ "$(id -u)" -eq 0 ]; then
        echo "$QM_RCVBUF" >"$RMEM_FILE"
        RMEM_CHANGED=1
        RMEM_NOTE="net.core.rmem_max raised from $RMEM_ORIG to $QM_RCVBUF for the run (restored at exit)"
    else
        RMEM_NOTE="net.core.rmem_max=$RMEM_ORIG is below the $QM_RCVBUF bytes Quillmark asks for: both receivers are capped to it"
        [ "$(id -u)" -eq 0 ] && RMEM_NOTE="$RMEM_NOTE (--raise-rmem lifts it for the run)"
    fi
fi
# rsyslog gets the buffer Quillmark's request ends up as. As root both pass
# rmem_max (SO_RCVBUFFORCE) and get the whole 8 MiB; otherwise both are
# capped at it.
RMEM_NOW="$(cat "$RMEM_FILE")"
RS_RCVBUF=$(( RMEM_NOW < QM_RCVBUF ? RMEM_NOW : QM_RCVBUF ))
if [ "$(id -u)" -eq 0 ]; then
    RS_RCVBUF=$QM_RCVBUF
    [ "$RMEM_CHANGED" = 1 ] || RMEM_NOTE="net.core.rmem_max=$RMEM_ORIG; as root both receivers pass it (SO_RCVBUFFORCE) and get the $QM_RCVBUF bytes asked for"
fi

# --- helpers ------------------------------------------------------------------

# The /proc/net/udp line of the socket bound to 127.0.0.1:port.
udp_line() { grep -E "^ *[0-9]+: 0100007F:$(printf '%04X' "$1") " /proc/net/udp || true; }
udp_bound() { [ -n "$(udp_line "$1")" ]; }
rx_queue_bytes() {
    local l; l="$(udp_line "$1")"
    [ -n "$l" ] || { echo 0; return; }
    echo $(( 16#$(awk '{split($5, q, ":"); print q[2]}' <<<"$l") ))
}
socket_drops() { local l; l="$(udp_line "$1")"; [ -n "$l" ] && awk '{print $13}' <<<"$l" || echo "?"; }
socket_rb() { ss -uamn "sport = :$1" 2>/dev/null | sed -n 's/.*skmem:(.*,rb\([0-9]*\),.*/\1/p' | head -1; }

start_quillmark() { launch_quillmark "$1" "$2"; }  # dir port
# rsyslog gets the socket buffer Quillmark's request ends up as.
start_rsyslog() {  # dir port
    launch_rsyslog "$1" "" 'module(load="imudp")' \
        "input(type=\"imudp\" port=\"$2\" address=\"127.0.0.1\" rcvbufSize=\"$RS_RCVBUF\")"
}

# --- one measurement ----------------------------------------------------------

# Fills R_* with the results of one fresh instance receiving rate*secs datagrams.
measure() {  # system rate secs
    local sys="$1" rate="$2" secs="$3"
    local dir port count
    dir="$(mktemp -d "$TMPROOT/$sys.XXXX")"
    port="$(free_port /proc/net/udp)"
    count=$((rate * secs))
    MAXTHR=0
    R_RC="" R_NOTE=""

    "start_$sys" "$dir" "$port"
    wait_bound udp_bound "$port" "$dir" "$sys" || return 1
    R_RB="$(socket_rb "$port")"
    sample_threads
    local cpu0; cpu0="$(cpu_ticks "$PID")"

    "$FLOOD" send --port "$port" --count "$count" --rate "$rate" "${SENDER[@]}" --size "$SIZE" >"$dir/send.txt" &
    local sender=$!
    while alive "$sender"; do sample_threads; sleep 0.1; done
    wait "$sender" || { log "udp_flood failed"; return 1; }
    local send; send="$(cat "$dir/send.txt")"

    settle "${sys}_outputs" rx_queue_bytes "$port" "$dir"
    sample_threads
    R_HWM_KB="$(vm_hwm_kb "$PID")"
    # CPU per sent datagram in nanoseconds.
    R_CPU_NS="$(( ($(cpu_ticks "$PID") - cpu0) * TICK_NS / (rate * secs > 0 ? rate * secs : 1) ))"
    R_KDROPS="$(socket_drops "$port")"
    stop_receiver

    R_SENT="$(kv sent "$send")"
    R_SENT_RATE="$(kv rate "$send")"
    [ "$(kv refused "$send")" = 0 ] || R_NOTE+="send-refused=$(kv refused "$send") "
    # A sender that could not keep the pace measured the sender, not the receiver.
    R_LIMITED=no
    if [ -n "$R_SENT_RATE" ] && [ "$R_SENT_RATE" -lt $((rate * 95 / 100)) ]; then R_LIMITED=yes; R_NOTE+="sender-limited "; fi
    verify_outputs "${sys}_outputs" "$dir" "$count"

    [ "$KEEP" = 1 ] || rm -rf "$dir"
    return 0
}

# --- tables -------------------------------------------------------------------

HEADER=$(printf '%-7s %9s %9s %9s %9s %9s %8s %5s %7s %8s %6s %4s %7s %7s %3s  %s' \
    phase target/s sent/s sent received missing loss% dup kdrops peakRSS cpu_ns thr idle_ms stop_ms rc notes)
declare -A ROWS BEST BEST_SENT RB CPU100K

row() {  # phase rate
    printf '%-7s %9s %9s %9s %9s %9s %8s %5s %7s %7sM %6s %4s %7s %7s %3s  %s' "$1" "$2" "$R_SENT_RATE" "$R_SENT" \
        "$R_UNIQUE" "$R_MISSING" "$R_LOSS" "$R_DUP" "$R_KDROPS" "$(( ${R_HWM_KB:-0} / 1024 ))" "$R_CPU_NS" "$R_THREADS" \
        "$R_SETTLE_MS" "$R_STOP_MS" "$R_RC" "$R_NOTE"
}

run_one() {  # system phase rate secs  -> appends a row, sets R_*
    local sys="$1" phase="$2" rate="$3" secs="$4" line
    if ! measure "$sys" "$rate" "$secs"; then
        R_LOSSLESS=no
        line="$(printf '%-7s %9s  (run failed)' "$phase" "$rate")"
    else
        line="$(row "$phase" "$rate")"
        RB[$sys]="${RB[$sys]:-$R_RB}"
        [ "$phase" = fixed ] && [ "$rate" = 100000 ] && CPU100K[$sys]="$R_CPU_NS"
    fi
    ROWS[$sys]+="$line"$'\n'
    log "[$sys] $line"
}

bench_system() {
    local sys="$1" rate lo=0 hi=0 mid step
    for rate in "${FIXED_RATES[@]}"; do run_one "$sys" fixed "$rate" "$FIXED_SECS"; done
    [ "$SEARCH" = 1 ] || return 0

    # Doubling until the first loss, then halving the gap to the last clean
    # rate. A clean run the sender could not pace ends the search: the
    # receiver kept up with all the sender had, and that is all it shows.
    local lo_sent=0 capped=no
    rate=$SEARCH_MIN
    while [ "$rate" -le "$SEARCH_MAX" ]; do
        run_one "$sys" search "$rate" "$SEARCH_SECS"
        if [ "$R_LOSSLESS" = yes ]; then
            lo=$rate; lo_sent=$R_SENT_RATE
            [ "$R_LIMITED" = yes ] && { capped=yes; break; }
            rate=$((rate * 2))
        else
            hi=$rate; break
        fi
    done
    if [ "$hi" -gt 0 ] && [ "$lo" -gt 0 ]; then
        for ((step = 0; step < BISECT_STEPS; step++)); do
            mid=$(( (lo + hi) / 2 / 1000 * 1000 ))
            { [ "$mid" -le "$lo" ] || [ "$mid" -ge "$hi" ]; } && break
            run_one "$sys" bisect "$mid" "$SEARCH_SECS"
            if [ "$R_LOSSLESS" = yes ]; then
                lo=$mid
                [ "${R_SENT_RATE:-0}" -gt "$lo_sent" ] && lo_sent=$R_SENT_RATE
                [ "$R_LIMITED" = yes ] && { capped=yes; break; }
            else
                hi=$mid
            fi
        done
    fi
    BEST[$sys]=$lo
    BEST_SENT[$sys]=$lo_sent
    if [ "$lo" = 0 ]; then BEST_NOTE[$sys]="none: lossy already at $SEARCH_MIN/s"
    elif [ "$capped" = yes ]; then BEST_NOTE[$sys]="at least $lo_sent/s (the sender's limit, not the receiver's)"
    elif [ "$hi" = 0 ]; then BEST_NOTE[$sys]="at least $lo/s (the top of the search)"
    else BEST_NOTE[$sys]="$lo/s (first lossy rate tried above it: $hi/s)"
    fi
    CAPPED[$sys]=$capped
}
declare -A BEST_NOTE CAPPED NAME=([quillmark]=Quillmark [rsyslog]=rsyslog)

START_S=$(date +%s)
log "$RMEM_NOTE"
log "Runs: fixed ${FIXED_RATES[*]}/s for ${FIXED_SECS}s$([ "$SEARCH" = 1 ] && echo "; search ${SEARCH_MIN}..${SEARCH_MAX}/s, ${SEARCH_SECS}s per step")"
for sys in quillmark rsyslog; do bench_system "$sys"; done

echo
echo "Lossless UDP ingest on 127.0.0.1, $(nproc) CPU(s), $(uname -r)$([ "$QUICK" = 1 ] && echo ', --quick')"
echo "Sender: ${SENDER[*]}"
echo "Datagrams of $SIZE bytes; fixed rates run ${FIXED_SECS}s, search steps ${SEARCH_SECS}s; a fresh instance per row."
echo "$RMEM_NOTE"
echo "Socket receive buffer (ss rb): Quillmark ${RB[quillmark]:-?} bytes, rsyslog ${RB[rsyslog]:-?} bytes (rcvbufSize=$RS_RCVBUF)"
[ "${RB[quillmark]:-x}" = "${RB[rsyslog]:-y}" ] || echo "WARNING: the receive buffers differ"
echo "kdrops: datagrams the kernel dropped at the full socket; peakRSS: VmHWM before stop; cpu_ns: receiver CPU time per sent datagram (ns); thr: most threads seen (100 ms samples)"
echo "idle_ms: end of the send until the receiver was idle with its socket empty; stop_ms: SIGTERM to exit; rc: exit status"
for sys in quillmark rsyslog; do
    echo
    if [ "$sys" = quillmark ]; then what="$QM"; else what="$(rsyslog_version)"; fi
    echo "== ${NAME[$sys]} ($what) =="
    echo "$HEADER"
    printf '%s' "${ROWS[$sys]}"
    [ "$SEARCH" = 1 ] && echo "highest lossless rate: ${BEST_NOTE[$sys]}; achieved ${BEST_SENT[$sys]}/s"
done
echo
if [ "$SEARCH" = 0 ]; then
    :
elif [ "${BEST_SENT[rsyslog]:-0}" != 0 ] && [ "${BEST_SENT[quillmark]:-0}" != 0 ]; then
    awk -v q="${BEST_SENT[quillmark]}" -v r="${BEST_SENT[rsyslog]}" \
        'BEGIN { printf "Quillmark/rsyslog highest lossless rate: %.2f (%d/s vs %d/s)\n", q / r, q, r }'
    [ "${CAPPED[quillmark]}${CAPPED[rsyslog]}" = nono ] ||
        echo "(a sender-limited result is a lower bound, so the ratio is too uncertain to read as more than that)"
else
    echo "Quillmark/rsyslog highest lossless rate: n/a (quillmark ${BEST[quillmark]:-0}/s, rsyslog ${BEST[rsyslog]:-0}/s)"
fi
if [ -n "${CPU100K[quillmark]:-}" ] && [ "${CPU100K[rsyslog]:-0}" -gt 0 ]; then
    awk -v q="${CPU100K[quillmark]}" -v r="${CPU100K[rsyslog]}" \
        'BEGIN { printf "Quillmark/rsyslog CPU per datagram at 100k/s: %.2f (%d ns vs %d ns)\n", q / r, q, r }'
fi
echo "(run took $(( $(date +%s) - START_S ))s)"
