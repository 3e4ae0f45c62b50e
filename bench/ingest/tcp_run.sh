#!/usr/bin/env bash
# Stream-ingest benchmark: Quillmark's TCP and TLS listeners against
# rsyslog's imptcp (TCP) and imtcp with the ossl driver (TLS), both fed the
# same numbered stream over several connections on 127.0.0.1 by tcp_flood.
# For each case: what was stored (sequence-checked), the rate the sender
# achieved (TCP slows a sender that a receiver cannot follow), and the
# receiver's CPU per stored message. See bench/ingest/README.md.
#
#   bench/ingest/tcp_run.sh [--quick] [--build-dir DIR] [--quillmark PATH] [--cases "tcp tls"]
#                           [--framing "octet lf"] [--rate R] [--secs S] [--conns C] [--size L]
#                           [--perf] [--keep]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/bench/ingest/common.sh"

BUILD_DIR=build-release
QM=""
CASES="tcp tls"
FRAMINGS="octet"
RATE=100000
SECS=10
CONNS=10
SIZE=120
PERF=0
KEEP=0
QUICK=0
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) QUICK=1 ;;
        --build-dir) BUILD_DIR="$2"; shift ;;
        --quillmark) QM="$(realpath "$2")"; shift ;;
        --cases) CASES="$2"; shift ;;
        --framing) FRAMINGS="$2"; shift ;;
        --rate) RATE="$2"; shift ;;
        --secs) SECS="$2"; shift ;;
        --conns) CONNS="$2"; shift ;;
        --size) SIZE="$2"; shift ;;
        --perf) PERF=1 ;;
        --keep) KEEP=1 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done
[ "$QUICK" = 1 ] && SECS=2

# --- set-up -------------------------------------------------------------------

if [ "${QM_BENCH_NO_BUILD:-0}" != 1 ]; then
    ensure_packages "${BUILD_PACKAGES[@]}" libssl-dev openssl rsyslog rsyslog-openssl
    # What the runs use, not the tests: the program only when none is given.
    targets=(udp_flood tcp_flood)
    [ -n "$QM" ] || targets+=(quillmark)
    build_release_quietly "$BUILD_DIR" "${targets[@]}"
fi
RSYSLOGD="$(command -v rsyslogd || echo /usr/sbin/rsyslogd)"
[ -x "$RSYSLOGD" ] || { log "rsyslogd not found"; exit 1; }
[ -n "$QM" ] || QM="$ROOT/$BUILD_DIR/quillmark"
FLOOD="$ROOT/$BUILD_DIR/bench/udp_flood"
SENDER="$ROOT/$BUILD_DIR/bench/tcp_flood"
for f in "$QM" "$FLOOD" "$SENDER"; do [ -x "$f" ] || { log "missing: $f"; exit 1; }; done
if [ "$PERF" = 1 ] && ! perf --version >/dev/null 2>&1; then log "perf is not available: --perf ignored"; PERF=0; fi

TMPROOT="$(mktemp -d "${TMPDIR:-/tmp}/qm-tcp-ingest.XXXXXX")"
cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill -KILL "$PID" 2>/dev/null || true; fi
    if [ "$KEEP" = 1 ]; then log "kept $TMPROOT"; else rm -rf "$TMPROOT"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# One CA and a server certificate it signed, for 127.0.0.1, shared by both
# receivers; the sender checks the chain against the CA.
PKI="$TMPROOT/pki"
make_certificates() {
    mkdir -p "$PKI"
    (
        cd "$PKI"
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillmark bench CA" \
            -keyout ca.key -out ca.pem
        openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout server.key -out server.csr
        printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' >server.ext
        openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
            -extfile server.ext -out server.pem
        chmod 600 ca.key server.key
    ) >"$TMPROOT/openssl.log" 2>&1 || { cat "$TMPROOT/openssl.log" >&2; exit 1; }
}
[[ " $CASES " == *" tls "* ]] && make_certificates

# --- receivers ----------------------------------------------------------------

# The listener on 127.0.0.1:port in the /proc/net/tcp state LISTEN (0A).
tcp_listening() {
    awk -v p="0100007F:$(printf '%04X' "$1")" '$2 == p && $4 == "0A" { f = 1 } END { exit !f }' /proc/net/tcp
}
# Bytes not yet read by the receiver's connections, plus bytes the
# sender's sockets (closed or not) have not yet handed over.
tcp_queued() {
    local p s=0 q
    p="0100007F:$(printf '%04X' "$1")"
    for q in $(awk -v p="$p" '$2 == p && $4 != "0A" { split($5, a, ":"); print a[2] }
                               $3 == p { split($5, a, ":"); print a[1] }' /proc/net/tcp); do
        s=$((s + 16#$q))
    done
    echo "$s"
}

start_quillmark() {  # dir port case
    local items=("Proto=$(struct_u8 1)")
    if [ "$3" = tls ]; then
        items=("Proto=$(struct_u8 2)" "StrCertFile=$PKI/server.pem" "StrKeyFile=$PKI/server.key")
    fi
    launch_quillmark "$1" "$2" "${items[@]}"
}
start_rsyslog() {  # dir port case
    if [ "$3" = tls ]; then
        launch_rsyslog "$1" "defaultNetstreamDriverCAFile=\"$PKI/ca.pem\" defaultNetstreamDriverCertFile=\"$PKI/server.pem\" defaultNetstreamDriverKeyFile=\"$PKI/server.key\"" \
            'module(load="imtcp" streamDriver.name="ossl" streamDriver.mode="1" streamDriver.authMode="anon")' \
            "input(type=\"imtcp\" port=\"$2\" address=\"127.0.0.1\")"
    else
        launch_rsyslog "$1" "" 'module(load="imptcp")' "input(type=\"imptcp\" port=\"$2\" address=\"127.0.0.1\")"
    fi
}

# --- one measurement ----------------------------------------------------------

# Fills R_* with the results of one fresh instance receiving RATE*SECS
# messages over CONNS connections.
measure() {  # system case framing
    local sys="$1" kase="$2" framing="$3"
    local dir port count
    dir="$(mktemp -d "$TMPROOT/$sys-$kase-$framing.XXXX")"
    port="$(free_port /proc/net/tcp)"
    count=$((RATE * SECS))
    MAXTHR=0
    R_RC="" R_NOTE="" R_PERF=""

    "start_$sys" "$dir" "$port" "$kase"
    wait_bound tcp_listening "$port" "$dir" "$sys" || return 1
    sample_threads
    local cpu0; cpu0="$(cpu_ticks "$PID")"

    local tls=()
    [ "$kase" = tls ] && tls=(--tls --ca "$PKI/ca.pem")
    "$SENDER" --port "$port" --count "$count" --rate "$RATE" --conns "$CONNS" --framing "$framing" \
        --size "$SIZE" "${tls[@]}" >"$dir/send.txt" 2>"$dir/send.err" &
    local sender=$! perf=""
    if [ "$PERF" = 1 ] && [ "$sys" = quillmark ]; then
        perf record -q -F 499 -g -p "$PID" -o "$dir/perf.data" -- sleep "$SECS" >/dev/null 2>&1 &
        perf=$!
    fi
    while alive "$sender"; do sample_threads; sleep 0.1; done
    local send_rc=0
    wait "$sender" || send_rc=$?
    local send; send="$(cat "$dir/send.txt")"
    [ "$send_rc" = 0 ] || R_NOTE+="sender-exit=$send_rc: $(head -2 "$dir/send.err" | tr '\n' ' ')"

    settle "${sys}_outputs" tcp_queued "$port" "$dir"
    sample_threads
    R_HWM_KB="$(vm_hwm_kb "$PID")"
    local ticks=$(( $(cpu_ticks "$PID") - cpu0 ))
    stop_receiver
    if [ -n "$perf" ]; then
        wait "$perf" || true
        perf report -i "$dir/perf.data" --no-children --sort comm,dso,sym --stdio 2>/dev/null |
            grep -E '^ +[0-9.]+%' | head -25 >"$dir/perf.txt" || true
        R_PERF="$(cat "$dir/perf.txt")"
    fi

    R_SENT="$(kv sent "$send")"
    R_SENT_RATE="$(kv rate "$send")"
    R_WAITS="$(kv waits "$send")"
    R_WAIT_MS="$(kv wait_ms "$send")"
    R_SENDER_CPU_MS="$(kv cpu_ms "$send")"
    R_TLS="$(kv tls "$send")"
    R_CLOSE_MS="$(kv close_ms "$send")"
    [ "$(kv unclosed "$send")" = 0 ] || R_NOTE+="unclosed=$(kv unclosed "$send") "
    # The sender waits only for a receiver that does not read fast enough;
    # short of the rate without waiting, it ran out of CPU itself.
    if [ -n "$R_SENT_RATE" ] && [ "$R_SENT_RATE" -lt $((RATE * 95 / 100)) ]; then
        if [ "${R_WAITS:-0}" -gt 0 ]; then R_NOTE+="receiver-limited "; else R_NOTE+="sender-limited "; fi
    fi
    verify_outputs "${sys}_outputs" "$dir" "$count"
    R_CPU_MS=$(( ticks * TICK_NS / 1000000 ))
    R_CPU_NS=$(( ticks * TICK_NS / (${R_UNIQUE:-0} > 0 ? R_UNIQUE : 1) ))

    [ "$KEEP" = 1 ] || rm -rf "$dir"
    return 0
}

# --- tables -------------------------------------------------------------------

HEADER=$(printf '%-22s %8s %8s %9s %9s %8s %5s %6s %7s %8s %6s %7s %7s %6s %4s %7s %7s %3s  %s' \
    receiver target/s sent/s sent stored missing dup waits wait_ms close_ms snd_ms peakRSS cpu_ms ns/msg thr idle_ms stop_ms rc notes)
row() {  # label
    printf '%-22s %8s %8s %9s %9s %8s %5s %6s %7s %8s %6s %6sM %7s %6s %4s %7s %7s %3s  %s' "$1" "$RATE" "$R_SENT_RATE" \
        "$R_SENT" "$R_UNIQUE" "$R_MISSING" "$R_DUP" "$R_WAITS" "$R_WAIT_MS" "$R_CLOSE_MS" "$R_SENDER_CPU_MS" \
        "$(( ${R_HWM_KB:-0} / 1024 ))" "$R_CPU_MS" \
        "$R_CPU_NS" "$R_THREADS" "$R_SETTLE_MS" "$R_STOP_MS" "$R_RC" "$R_NOTE"
}

declare -A LABEL=([quillmark-tcp]="Quillmark TCP" [quillmark-tls]="Quillmark TLS"
                  [rsyslog-tcp]="rsyslog imptcp" [rsyslog-tls]="rsyslog imtcp+ossl")
declare -A CASE_NAME=([tcp]=TCP [tls]=TLS)
declare -A FRAMING_NAME=([octet]="octet counting" [lf]="LF framing")
OUTPUT="" TLS_NOTE="" PERF_NOTE=""
START_S=$(date +%s)
LOAD_START="$(cut -d' ' -f1-3 /proc/loadavg)"
log "Runs: $RATE messages/s of $SIZE bytes over $CONNS connections for ${SECS}s; cases: $CASES; framing: $FRAMINGS; load $LOAD_START"
for kase in $CASES; do
    for framing in $FRAMINGS; do
        declare -A LOST=() CPU=() SENT_RATE=() DONE=()
        block="== ${CASE_NAME[$kase]:-$kase}, ${FRAMING_NAME[$framing]:-$framing}, $RATE/s over $CONNS connections, ${SECS}s =="$'\n'"$HEADER"$'\n'
        for sys in quillmark rsyslog; do
            label="${LABEL[$sys-$kase]}"
            if measure "$sys" "$kase" "$framing"; then
                line="$(row "$label")"
                LOST[$sys]="$R_MISSING" CPU[$sys]="$R_CPU_NS" SENT_RATE[$sys]="$R_SENT_RATE" DONE[$sys]=1
                [ -n "$R_TLS" ] && [ "$R_TLS" != plain ] && TLS_NOTE="$R_TLS"
                [ -n "$R_PERF" ] && PERF_NOTE+="perf of $label ($framing), all threads:"$'\n'"$R_PERF"$'\n'
            else
                line="$(printf '%-22s %8s  (run failed)' "$label" "$RATE")"
            fi
            log "$line"
            block+="$line"$'\n'
        done
        if [ -n "${DONE[quillmark]:-}" ] && [ -n "${DONE[rsyslog]:-}" ]; then
            # The figures with goals, one line for bench/report.py.
            block+="$(awk -v k="$kase-$framing" -v lq="${LOST[quillmark]}" -v lr="${LOST[rsyslog]}" \
                -v sq="${SENT_RATE[quillmark]}" -v sr="${SENT_RATE[rsyslog]}" -v target="$RATE" \
                -v q="${CPU[quillmark]}" -v r="${CPU[rsyslog]}" -v run="conns=$CONNS size=$SIZE secs=$SECS" 'BEGIN {
                    ratio = q > 0 ? r / q : 0
                    printf "figures %s: quillmark_lost=%d rsyslog_lost=%d quillmark_rate=%d rsyslog_rate=%d target=%d quillmark_ns=%d rsyslog_ns=%d ratio=%.2f %s\n",
                        k, lq, lr, sq, sr, target, q, r, ratio, run
                    lossless = (lq == 0 && sq >= target * 0.95) ? "met" : "NOT MET"
                    cheaper = (ratio >= 1.0) ? "met" : "NOT MET"
                    printf "lost: Quillmark %d, rsyslog %d (goal 0 at %d/s: %s); rsyslog/Quillmark CPU per stored message: %.2f (goal >= 1.0: %s)",
                        lq, lr, target, lossless, ratio, cheaper
                }')"$'\n'
        fi
        # Other work on the cores shows here first.
        OUTPUT+="${block}load average after the pair: $(cut -d' ' -f1-3 /proc/loadavg)"$'\n\n'
    done
done

echo
echo "Stream ingest on 127.0.0.1, $(nproc) CPU(s), $(uname -r)$([ "$QUICK" = 1 ] && echo ', --quick'); load before the runs: $LOAD_START"
echo "Quillmark: $QM"
echo "rsyslog: $(rsyslog_version) (defaults apart from the input and the output file)"
echo "Messages of $SIZE bytes (framing not counted), message k on connection k mod $CONNS; a fresh instance per row.${TLS_NOTE:+ TLS: $TLS_NOTE.}"
echo "waits/wait_ms: times and milliseconds the sender waited for a receiver to read; close_ms: the last byte sent until the receiver"
echo "had closed every connection (it had read everything); snd_ms: the sender's CPU; ns/msg: receiver CPU (user + system) per stored message;"
echo "cpu_ms: its CPU over the run; peakRSS: VmHWM before stop; thr: most threads seen; idle_ms: end of the send until the receiver was idle"
echo "with its sockets empty; stop_ms: SIGTERM to exit; rc: exit status."
echo
printf '%s' "$OUTPUT"
[ -n "$PERF_NOTE" ] && printf '\n%s' "$PERF_NOTE"
echo "(run took $(( $(date +%s) - START_S ))s)"
