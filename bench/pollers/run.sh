#!/usr/bin/env bash
# Poller cycle times against the tools a user would reach for instead:
# 100 SNMP agents (snmpsimd on 100 loopback ports) polled by the SNMP module
# and by snmpget run once per agent; the same with 5 of them dead; 50
# loopback hosts pinged by the ICMP module, by fping and by ping per host.
#
#   bench/pollers/run.sh [--build-dir DIR] [--rounds R]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

BUILD_DIR=build-release
ROUNDS=5
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift ;;
        --rounds) ROUNDS="$2"; shift ;;
        -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

AGENTS=100
DEAD=5
HOSTS=50
TIMEOUT_MS=1000  # per request; no retries, for the module and for snmpget alike

ensure_packages "${BUILD_PACKAGES[@]}" snmpsim snmp fping iputils-ping
build_release_quietly "$BUILD_DIR"
BENCH="$ROOT/$BUILD_DIR/bench/poller_bench"

TMPROOT="$(mktemp -d "${TMPDIR:-/tmp}/qm-pollers.XXXXXX")"
SIM=""
cleanup() {
    [ -n "$SIM" ] && kill "$SIM" 2>/dev/null || true
    rm -rf "$TMPROOT"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- peers --------------------------------------------------------------------

PORT=$((20000 + RANDOM % 20000))
mkdir -p "$TMPROOT/data" "$TMPROOT/cache"
printf '%s\n' "1.3.6.1.2.1.1.3.0|67|8640000" "1.3.6.1.2.1.1.5.0|4|bench-agent" >"$TMPROOT/data/public.snmprec"
chmod -R a+rwX "$TMPROOT"
ENDPOINTS=()
for i in $(seq 0 $((AGENTS - 1))); do ENDPOINTS+=("--agent-udpv4-endpoint=127.0.0.1:$((PORT + i))"); done
AS_USER=()
[ "$(id -u)" -eq 0 ] && AS_USER=(--process-user=nobody --process-group=nogroup)
snmpsimd --data-dir="$TMPROOT/data" --cache-dir="$TMPROOT/cache" "${ENDPOINTS[@]}" "${AS_USER[@]}" \
    --logging-method=null >"$TMPROOT/snmpsimd.log" 2>&1 &
SIM=$!
for _ in $(seq 120); do
    snmpget -v2c -c public -t 1 -r 0 "127.0.0.1:$((PORT + AGENTS - 1))" .1.3.6.1.2.1.1.5.0 >/dev/null 2>&1 && break
    sleep 0.5
done

LIVE=(); for i in $(seq 0 $((AGENTS - 1))); do LIVE+=("127.0.0.1:$((PORT + i))/public"); done
# Dead agents: ports nobody listens on, in place of the last five.
MIXED=("${LIVE[@]:0:$((AGENTS - DEAD))}")
for i in $(seq 1 $DEAD); do MIXED+=("127.0.0.1:$((PORT + AGENTS + i))/public"); done

# Milliseconds of one sequential snmpget per agent (best of ROUNDS).
snmpget_cycle() {
    local best="" t a
    for _ in $(seq "$ROUNDS"); do
        t=$( { /usr/bin/time -f %e bash -c '
            for a in "$@"; do snmpget -v2c -c "${a#*/}" -t '"$((TIMEOUT_MS / 1000))"' -r 0 "${a%/*}" .1.3.6.1.2.1.1.3.0 >/dev/null 2>&1 || true; done
        ' _ "$@" >/dev/null; } 2>&1 | tail -1)
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    awk "BEGIN{printf \"%.1f\", $best * 1000}"
}
best_ms() { sed -n 's/.*cycle best \([0-9.]*\) ms.*/\1/p'; }

echo "== SNMP: $AGENTS agents on snmpsimd, Timeout $TIMEOUT_MS ms, no retries, best of $ROUNDS cycles"
Q_LIVE=$("$BENCH" snmp --rounds "$ROUNDS" --timeout $TIMEOUT_MS --retries 0 "${LIVE[@]}" | tee /dev/stderr | best_ms)
R_LIVE=$(snmpget_cycle "${LIVE[@]}")
echo "snmpget once per agent: $R_LIVE ms; reference/module = $(awk "BEGIN{printf \"%.1f\", $R_LIVE / $Q_LIVE}")"
echo "== SNMP: $((AGENTS - DEAD)) live and $DEAD dead agents"
Q_MIX=$("$BENCH" snmp --rounds "$ROUNDS" --timeout $TIMEOUT_MS --retries 0 "${MIXED[@]}" | tee /dev/stderr | best_ms)
R_MIX=$(snmpget_cycle "${MIXED[@]}")
echo "snmpget once per agent: $R_MIX ms; reference/module = $(awk "BEGIN{printf \"%.2f\", $R_MIX / $Q_MIX}")"
echo "   the dead agents' time-outs: $DEAD x $TIMEOUT_MS ms = $((DEAD * TIMEOUT_MS)) ms of each cycle"

echo "== ICMP: $HOSTS loopback hosts (127.0.0.1 .. 127.0.0.$HOSTS), best of $ROUNDS cycles"
HOST_LIST=(); for i in $(seq 1 $HOSTS); do HOST_LIST+=("127.0.0.$i"); done
Q_ICMP=$("$BENCH" icmp --rounds "$ROUNDS" $HOSTS | tee /dev/stderr | best_ms)
best=""
for _ in $(seq "$ROUNDS"); do
    t=$( { /usr/bin/time -f %e fping -q -c1 -i1 -p1 "${HOST_LIST[@]}" >/dev/null 2>&1; } 2>&1 | tail -1 )
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
done
F_ICMP=$(awk "BEGIN{printf \"%.1f\", $best * 1000}")
P_ICMP=$( { /usr/bin/time -f %e bash -c 'for h in "$@"; do ping -c1 -q "$h" >/dev/null; done' _ "${HOST_LIST[@]}"; } 2>&1 | tail -1 )
echo "fping (all hosts, 1 ms apart): $F_ICMP ms; reference/module = $(awk "BEGIN{printf \"%.1f\", $F_ICMP / $Q_ICMP}")"
echo "ping once per host: $(awk "BEGIN{printf \"%.1f\", $P_ICMP * 1000}") ms"
