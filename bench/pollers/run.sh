#!/usr/bin/env bash
# Poller cycle times against the tools a user would reach for instead:
# 100 SNMP agents (snmpsimd on 100 loopback ports) polled by the SNMP module
# and by snmpget run once per agent; the same with 5 of them dead; 50
# loopback hosts pinged by the ICMP module, by fping and by ping per host.
#
#   bench/pollers/run.sh [--build-dir DIR] [--no-build] [--rounds R]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/bench/pollers/snmp_agents.sh"

BUILD_DIR=build-release
ROUNDS=5
BUILD=1
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift ;;
        --rounds) ROUNDS="$2"; shift ;;
        --no-build) BUILD=0 ;;  # use the tree as it is
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
[ "$BUILD" = 0 ] || build_release_quietly "$BUILD_DIR"
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
start_snmp_agents "$TMPROOT" "$PORT" "$AGENTS" "1.3.6.1.2.1.1.3.0|67|8640000" "1.3.6.1.2.1.1.5.0|4|bench-agent"

LIVE=(); for i in $(seq 0 $((AGENTS - 1))); do LIVE+=("127.0.0.1:$((PORT + i))/public"); done
# Dead agents: ports nobody listens on, in place of the last five.
MIXED=("${LIVE[@]:0:$((AGENTS - DEAD))}")
for i in $(seq 1 $DEAD); do MIXED+=("127.0.0.1:$((PORT + AGENTS + i))/public"); done

# Milliseconds a command takes (its output dropped).
ms_of() {
    local begin=$EPOCHREALTIME
    "$@" >/dev/null 2>&1 || true
    awk "BEGIN{printf \"%.1f\", ($EPOCHREALTIME - $begin) * 1000}"
}
# The best of ROUNDS runs.
best_of() {
    local best="" t
    for _ in $(seq "$ROUNDS"); do
        t=$(ms_of "$@")
        if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
    done
    echo "$best"
}
snmpget_each() {
    local a
    for a in "$@"; do
        snmpget -v2c -c "${a#*/}" -t $((TIMEOUT_MS / 1000)) -r 0 "${a%/*}" .1.3.6.1.2.1.1.3.0 || true
    done
}
ping_each() {
    local h
    for h in "$@"; do ping -c1 -q "$h" || true; done
}
module_best() {  # prints the bench's line to stdout, its best cycle in ms to fd 3
    local line
    line=$("$BENCH" "$@")
    echo "$line"
    echo "$line" | sed -n 's/.*cycle best \([0-9.]*\) ms.*/\1/p' >&3
}
ratio() { awk "BEGIN{printf \"%.1f\", $1 / $2}"; }

echo "== SNMP: $AGENTS agents on snmpsimd, Timeout $TIMEOUT_MS ms, no retries, best of $ROUNDS cycles"
module_best snmp --rounds "$ROUNDS" --timeout $TIMEOUT_MS --retries 0 "${LIVE[@]}" 3>"$TMPROOT/best"
Q=$(cat "$TMPROOT/best"); R=$(best_of snmpget_each "${LIVE[@]}")
echo "snmpget once per agent: $R ms; snmpget/module = $(ratio "$R" "$Q")"
echo "== SNMP: $((AGENTS - DEAD)) live and $DEAD dead agents"
module_best snmp --rounds "$ROUNDS" --timeout $TIMEOUT_MS --retries 0 "${MIXED[@]}" 3>"$TMPROOT/best"
Q=$(cat "$TMPROOT/best"); R=$(best_of snmpget_each "${MIXED[@]}")
echo "snmpget once per agent: $R ms; snmpget/module = $(ratio "$R" "$Q")"
echo "   of which the dead agents' time-outs: $DEAD x $TIMEOUT_MS ms = $((DEAD * TIMEOUT_MS)) ms"

echo "== ICMP: $HOSTS loopback hosts (127.0.0.1 .. 127.0.0.$HOSTS), best of $ROUNDS cycles"
HOST_LIST=(); for i in $(seq 1 $HOSTS); do HOST_LIST+=("127.0.0.$i"); done
module_best icmp --rounds "$ROUNDS" $HOSTS 3>"$TMPROOT/best"
Q=$(cat "$TMPROOT/best"); F=$(best_of fping -q -c1 -i1 -p1 "${HOST_LIST[@]}"); P=$(ms_of ping_each "${HOST_LIST[@]}")
echo "fping (all hosts, 1 ms apart): $F ms; fping/module = $(ratio "$F" "$Q")"
echo "ping once per host: $P ms; ping/module = $(ratio "$P" "$Q")"
