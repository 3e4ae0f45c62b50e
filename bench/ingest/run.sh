#!/usr/bin/env bash
# Lossless-ingest benchmark: Quillmark against rsyslog, both receiving the
# same numbered UDP syslog stream on 127.0.0.1. See bench/ingest/README.md.
#
#   bench/ingest/run.sh [--quick] [--build-dir DIR] [--raise-rmem] [--gso G] [--keep] [--port N]
#                       [--rates "R1 R2 ..."] [--secs S] [--no-search] [--size L]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

QUICK=0
BUILD_DIR=build-release  # not build/: that one is the run script's RelWithDebInfo tree
RAISE_RMEM=0
KEEP=0
# Datagrams per sendmmsg message through UDP segmentation offload: without it
# the sender, which pays for most of the loopback path, tops out near 200k/s
# on two cores. The receivers still get one datagram at a time.
GSO=64
PORT_BASE=$((20000 + RANDOM % 20000))
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
        --gso) GSO="$2"; shift ;;
        --port) PORT_BASE="$2"; shift ;;
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
SETTLE_MAX_S=20     # longest wait for a receiver to catch up after the send
STOP_MAX_S=60       # longest wait for an orderly exit before SIGKILL
# The receive buffer Quillmark asks for (SO_RCVBUF) in its listener.
QM_RCVBUF=$((8 * 1024 * 1024))

log() { echo "$*" >&2; }

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
PID=""

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
# rsyslog gets the request Quillmark's ends up as. As root it would use
# SO_RCVBUFFORCE and pass rmem_max, so it is asked for no more than the cap.
RMEM_NOW="$(cat "$RMEM_FILE")"
RS_RCVBUF=$(( RMEM_NOW < QM_RCVBUF ? RMEM_NOW : QM_RCVBUF ))

# --- helpers ------------------------------------------------------------------

kv() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2" | head -1; }

# The /proc/net/udp line of the socket bound to 127.0.0.1:port.
udp_line() { grep -E "^ *[0-9]+: 0100007F:$(printf '%04X' "$1") " /proc/net/udp || true; }
rx_queue_bytes() {
    local l; l="$(udp_line "$1")"
    [ -n "$l" ] || { echo 0; return; }
    echo $(( 16#$(awk '{split($5, q, ":"); print q[2]}' <<<"$l") ))
}
socket_drops() { local l; l="$(udp_line "$1")"; [ -n "$l" ] && awk '{print $13}' <<<"$l" || echo "?"; }
socket_rb() { ss -uamn "sport = :$1" 2>/dev/null | sed -n 's/.*skmem:(.*,rb\([0-9]*\),.*/\1/p' | head -1; }

# Running and not a zombie: a child that has exited still answers kill -0.
alive() {
    local state
    state="$(sed -n 's/^State:[[:space:]]*\(.\).*/\1/p' "/proc/$1/status" 2>/dev/null)" || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}
MAXTHR=0
sample_threads() {
    local k v
    { while read -r k v _; do
          if [ "$k" = "Threads:" ]; then [ "$v" -gt "$MAXTHR" ] && MAXTHR=$v; break; fi
      done <"/proc/$PID/status"; } 2>/dev/null || true
}
# User plus system CPU time in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0; }
vm_hwm_kb() { sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status" 2>/dev/null || true; }
total_size() { local s=0 f; for f in "$@"; do [ -f "$f" ] && s=$((s + $(stat -c %s "$f"))); done; echo "$s"; }

NEXT_PORT=$PORT_BASE
free_port() {
    while [ -n "$(udp_line "$NEXT_PORT")" ] || grep -qE "^ *[0-9]+: [0-9A-F]{8}:$(printf '%04X' "$NEXT_PORT") " /proc/net/udp; do
        NEXT_PORT=$((NEXT_PORT + 1))
    done
    echo "$NEXT_PORT"
    NEXT_PORT=$((NEXT_PORT + 1))
}

# The 4 little-endian bytes of a number as hex, then their byte sum's low 8 bits.
struct_u32() {
    local v=$1 b sum=0 out="" i
    for i in 0 1 2 3; do
        b=$(( (v >> (8 * i)) & 255 ))
        out+=$(printf '%02X' "$b")
        sum=$((sum + b))
    done
    printf '%s%02X\n' "$out" $((sum & 255))
}

start_quillmark() {  # dir port
    local home="$1/home"
    mkdir -p "$home/Settings"
    cp "$ROOT"/resources/default-home/Settings/*.ini "$home/Settings/"
    sed -i -e "s/^Item.0-Port=.*/Item.0-Port=$(struct_u32 "$2")/" \
           -e "s/^Item.0-StrName=.*/Item.0-StrName=127.0.0.1/" "$home/Settings/mod_collector.ini"
    # The worker looks at the queue every 200 ms instead of every 10 s, so a
    # run's events reach the files while it is still being measured.
    sed -i -e "s/^Common.Timeout=.*/Common.Timeout=$(struct_u32 200)/" "$home/Settings/mod_dbase.ini"
    QUILLMARK_HOME="$home" "$QM" >"$1/stdout" 2>"$1/stderr" &
    PID=$!
}
quillmark_outputs() { local d="$1/home/Logs"; echo "$d"/*.log "$d"/*.log.next; }

start_rsyslog() {  # dir port
    mkdir -p "$1/work"
    # Only what the run needs: no imuxsock/imklog and no include of
    # /etc/rsyslog.d, so the system's log is never touched.
    cat >"$1/rsyslog.conf" <<EOF
global(workDirectory="$1/work" maxMessageSize="8k")
module(load="imudp")
input(type="imudp" port="$2" address="127.0.0.1" rcvbufSize="$RS_RCVBUF")
template(name="rawline" type="string" string="%rawmsg%\n")
action(type="omfile" file="$1/out.log" template="rawline")
EOF
    "$RSYSLOGD" -n -f "$1/rsyslog.conf" -i "$1/rsyslogd.pid" >"$1/stdout" 2>"$1/stderr" &
    PID=$!
}
rsyslog_outputs() { echo "$1/out.log"; }

# --- one measurement ----------------------------------------------------------

# Fills R_* with the results of one fresh instance receiving rate*secs datagrams.
measure() {  # system rate secs
    local sys="$1" rate="$2" secs="$3"
    local dir port count i waited
    dir="$(mktemp -d "$TMPROOT/$sys.XXXX")"
    port="$(free_port)"
    count=$((rate * secs))
    MAXTHR=0
    R_RC="" R_NOTE=""

    "start_$sys" "$dir" "$port"
    for ((i = 0; i < 200; i++)); do
        [ -n "$(udp_line "$port")" ] && break
        alive "$PID" || break
        sleep 0.05
    done
    if [ -z "$(udp_line "$port")" ]; then
        log "$sys did not bind 127.0.0.1:$port; stderr:"; cat "$dir/stderr" >&2
        kill -KILL "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; PID=""
        return 1
    fi
    R_RB="$(socket_rb "$port")"
    sample_threads
    local cpu0; cpu0="$(cpu_ticks "$PID")"

    "$FLOOD" send --port "$port" --count "$count" --rate "$rate" --gso "$GSO" --size "$SIZE" >"$dir/send.txt" &
    local sender=$!
    while alive "$sender"; do sample_threads; sleep 0.1; done
    wait "$sender" || { log "udp_flood failed"; return 1; }
    local send; send="$(cat "$dir/send.txt")"

    # Settled: nothing left in the socket, the output unchanged and the
    # receiver idle for 0.5 s. Idle matters: Quillmark holds a backlog in
    # memory and writes it in bursts, so a still file alone proves nothing.
    local size last=-1 cpu lastcpu=-1 still=0
    for ((waited = 0; waited < SETTLE_MAX_S * 10; waited++)); do
        sample_threads
        # shellcheck disable=SC2046
        size="$(shopt -s nullglob; total_size $("${sys}_outputs" "$dir"))"
        cpu="$(cpu_ticks "$PID")"
        if [ "$(rx_queue_bytes "$port")" = 0 ] && [ "$size" = "$last" ] && [ $((cpu - lastcpu)) -le 1 ]; then
            still=$((still + 1)); [ "$still" -ge 5 ] && break
        else
            still=0
        fi
        last="$size"
        lastcpu="$cpu"
        sleep 0.1
    done
    # The last five samples were the quiet window itself.
    R_SETTLE_MS=$(( (waited > 4 ? waited - 4 : 0) * 100 ))
    [ "$waited" -ge $((SETTLE_MAX_S * 10)) ] && R_NOTE+="settle-timeout "

    sample_threads
    R_HWM_KB="$(vm_hwm_kb "$PID")"
    # CPU per sent datagram in nanoseconds (clock ticks are 10 ms).
    R_CPU_NS="$(( ($(cpu_ticks "$PID") - cpu0) * 10000 * 1000 / (rate * secs > 0 ? rate * secs : 1) ))"
    R_KDROPS="$(socket_drops "$port")"

    local t0 t1
    t0=$(date +%s%N)
    kill -TERM "$PID"
    for ((i = 0; i < STOP_MAX_S * 20; i++)); do
        alive "$PID" || break
        [ $((i % 2)) = 0 ] && sample_threads
        sleep 0.05
    done
    if alive "$PID"; then
        kill -KILL "$PID" 2>/dev/null || true
        R_NOTE+="killed-after-${STOP_MAX_S}s "
    fi
    R_RC=0; wait "$PID" || R_RC=$?
    t1=$(date +%s%N)
    PID=""
    R_STOP_MS=$(( (t1 - t0) / 1000000 ))
    R_THREADS=$MAXTHR

    local verify
    # shellcheck disable=SC2046
    verify="$(shopt -s nullglob; "$FLOOD" verify --expect "$count" $("${sys}_outputs" "$dir") 2>&1 || true)"
    R_SENT="$(kv sent "$send")"
    R_SENT_RATE="$(kv rate "$send")"
    R_UNIQUE="$(kv unique "$verify")"
    R_MISSING="$(kv missing "$verify")"
    R_DUP="$(kv duplicates "$verify")"
    R_LOSS="$(kv loss_pct "$verify")"
    R_LOSSLESS="$(kv lossless "$verify")"
    R_RANGES="$(kv missing_ranges "$verify")"
    [ -n "$R_LOSSLESS" ] || { R_LOSSLESS=no; R_NOTE+="verify-failed "; }
    [ "$(kv refused "$send")" = 0 ] || R_NOTE+="send-refused=$(kv refused "$send") "
    # A sender that could not keep the pace measured the sender, not the receiver.
    R_LIMITED=no
    if [ -n "$R_SENT_RATE" ] && [ "$R_SENT_RATE" -lt $((rate * 95 / 100)) ]; then R_LIMITED=yes; R_NOTE+="sender-limited "; fi

    # Anything the program said beyond its start/stop progress lines is worth seeing.
    local said
    said="$(grep -vE '^(Loading|Shutting down) \.\.\.' "$dir/stderr" | head -3 | tr '\n' ' ' || true)"
    [ -n "$said" ] && R_NOTE+="stderr: $said"
    [ -n "$R_RANGES" ] && R_NOTE+="gaps: $R_RANGES "

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
echo "Datagrams of $SIZE bytes; fixed rates run ${FIXED_SECS}s, search steps ${SEARCH_SECS}s; a fresh instance per row."
echo "$RMEM_NOTE"
echo "Socket receive buffer (ss rb): Quillmark ${RB[quillmark]:-?} bytes, rsyslog ${RB[rsyslog]:-?} bytes (rcvbufSize=$RS_RCVBUF)"
[ "${RB[quillmark]:-x}" = "${RB[rsyslog]:-y}" ] || echo "WARNING: the receive buffers differ"
echo "kdrops: datagrams the kernel dropped at the full socket; peakRSS: VmHWM before stop; cpu_ns: receiver CPU time per sent datagram (ns); thr: most threads seen (100 ms samples)"
echo "idle_ms: end of the send until the receiver was idle with its socket empty; stop_ms: SIGTERM to exit; rc: exit status"
for sys in quillmark rsyslog; do
    echo
    if [ "$sys" = quillmark ]; then what="$QM"; else what="$("$RSYSLOGD" -v | head -1 | sed 's/ *compiled with:$//')"; fi
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
