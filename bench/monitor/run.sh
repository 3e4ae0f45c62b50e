#!/usr/bin/env bash
# What monitoring costs the program as it runs for use: 100 loopback hosts
# pinged by the ICMP module, 20 SNMP agents (snmpsimd on loopback ports,
# four OIDs each) polled by the SNMP module, and 10 graph windows showing
# their values (Qt's offscreen platform). Prints the resident memory with
# all of it running, and the CPU of one poll cycle of each module against
# fping and snmpget doing the same requests.
#
# A module's cycle costs the program's CPU while only that module polls,
# less the program's CPU in as long a time with both modules off (graph
# windows, timers and the rest), divided by the cycles polled. A tool's cycle
# costs the CPU of its processes (fping once for all hosts, snmpget once per
# agent with the agent's four OIDs), the mean of several runs.
#
#   bench/monitor/run.sh [--build-dir DIR] [--cycles N] [--cycle-ms MS]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/bench/ingest/common.sh"
. "$ROOT/bench/pollers/snmp_agents.sh"

BUILD_DIR=build-release
CYCLES=12
CYCLE_MS=5000
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift ;;
        --cycles) CYCLES="$2"; shift ;;
        --cycle-ms) CYCLE_MS="$2"; shift ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

HOSTS=100
AGENTS=20
GRAPHS=10
OIDS=(.1.3.6.1.2.1.1.3.0 .1.3.6.1.2.1.2.2.1.10.1 .1.3.6.1.2.1.2.2.1.16.1 .1.3.6.1.2.1.1.5.0)
TAGS=(up in out name)

ensure_packages "${BUILD_PACKAGES[@]}" snmpsim snmp fping python3
[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || build_release_quietly "$BUILD_DIR"
QM="$ROOT/$BUILD_DIR/quillmark"

TMP="$(mktemp -d "${TMPDIR:-/tmp}/qm-monitor.XXXXXX")"
SIM=""
cleanup() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then kill -KILL "$PID" 2>/dev/null || true; fi
    if [ -n "$SIM" ]; then kill "$SIM" 2>/dev/null || true; fi
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the SNMP agents ----------------------------------------------------------

SNMP_PORT=$((20000 + RANDOM % 20000))
start_snmp_agents "$TMP" "$SNMP_PORT" "$AGENTS" "1.3.6.1.2.1.1.3.0|67|8640000" \
    "1.3.6.1.2.1.2.2.1.10.1|65|123456789" "1.3.6.1.2.1.2.2.1.16.1|65|987654321" "1.3.6.1.2.1.1.5.0|4|bench-agent"

# --- the program's home ---------------------------------------------------------

LISTEN_PORT=$(free_port /proc/net/udp)
HOME_DIR="$TMP/home"
quillmark_home "$HOME_DIR" "$LISTEN_PORT"
# The shipped home pings 127.0.0.1 and shows two graph windows of its own:
# the hosts and windows here are the benchmark's.
rm -f "$HOME_DIR/Settings/mod_icmp.ini"
{
    echo "[mod_window]"
    echo "Version=2"
    echo "ItemCount=$(struct_fields $((GRAPHS + 1)):4)"
    grep '^Item\.0-' "$ROOT/resources/default-home/Settings/mod_window.ini"
    for w in $(seq 1 "$GRAPHS"); do
        x=$(( 40 + (w - 1) % 5 * 260 )); y=$(( 60 + (w - 1) / 5 * 220 ))
        echo "Item.$w-Enable=0101"
        echo "Item.$w-Name=Graph $w"
        echo "Item.$w-Param=000000"
        echo "Item.$w-Type=0303"
        echo "Item.$w-Rect=$(struct_fields $x:4 $y:4 $((x + 250)):4 $((y + 200)):4)"
        echo "Item.$w-Icon=$(struct_fields 53:4)"
        echo "Item.$w-UID=$(struct_fields $((w + 1)):8)"
    done
    echo
    sed -n '/^\[mod_window -> std_report\]/,/^$/p' "$ROOT/resources/default-home/Settings/mod_window.ini"
    echo "[mod_window -> graph]"
    echo "Version=2"
    # Five windows of ICMP round trips, five of SNMP counters: each shows
    # one host or agent, with a refresh every cycle.
    for w in $(seq 1 "$GRAPHS"); do
        uid=$((w + 1))
        echo "Wnd.$uid-RefreshTimeout=$(struct_fields "$CYCLE_MS":4)"
        echo "Wnd.$uid-TimeRange=$(struct_fields 10:4)"
        if [ "$w" -le $((GRAPHS / 2)) ]; then
            echo "Wnd.$uid.Chart-Vendor=127.0.0.$w"
            echo "Wnd.$uid.Chart.Tag-Size=$(struct_fields 1:4)"
            echo "Wnd.$uid.Chart.Tag.0-Name=msec (mod_icmp)"
            echo "Wnd.$uid.Chart.Tag.0-PenColor=$(struct_fields $((0x00FFC800)):4)"
        else
            echo "Wnd.$uid.Chart-Vendor=127.0.0.1:$((SNMP_PORT + w))"
            echo "Wnd.$uid.Chart.Tag-Size=$(struct_fields 3:4)"
            for t in 0 1 2; do
                echo "Wnd.$uid.Chart.Tag.$t-Name=${TAGS[$t]} (mod_snmp)"
                echo "Wnd.$uid.Chart.Tag.$t-PenColor=$(struct_fields $((0x0050FF50 << t & 0xFFFFFF)):4)"
            done
        fi
    done
} >"$HOME_DIR/Settings/mod_window.ini"

QUILLMARK_HOME="$HOME_DIR" QT_QPA_PLATFORM=offscreen "$QM" >"$TMP/stdout" 2>"$TMP/stderr" &
PID=$!
bound() { grep -qE "^ *[0-9]+: 0100007F:$(printf '%04X' "$LISTEN_PORT") " /proc/net/udp; }
for ((i = 0; i < 200; i++)); do bound && break; sleep 0.05; done
bound || { echo "quillmark did not start; its stderr:" >&2; cat "$TMP/stderr" >&2; exit 1; }

# Scripts go to the running program as a user's would (`quillmark -script`).
script() {
    local reply
    if ! reply="$(QUILLMARK_HOME="$HOME_DIR" "$QM" -script - <<<"$1" 2>&1)"; then
        echo "script failed: $reply" >&2
        exit 1
    fi
}
{
    echo "#set:mod_icmp{#set:en=1;#set:rpt=$CYCLE_MS;#set:rcv=1000;#set:snd=1000}"
    for i in $(seq 1 "$HOSTS"); do echo "#set:mod_icmp=127.0.0.$i{#set:chart=1;#set:en=1}"; done
    printf '#set:mod_snmp.list=bench{#set:enable=1;#set:format=up [up] in [in] out [out] [name]'
    for t in 0 1 2 3; do printf ';#set:push=%s;#set:oid|%s=%s' "${TAGS[$t]}" "${TAGS[$t]}" "${OIDS[$t]}"; done
    echo "}"
    echo "#set:mod_snmp{#set:en=1;#set:rpt=$CYCLE_MS}"
    for i in $(seq 0 $((AGENTS - 1))); do
        echo "#set:mod_snmp=127.0.0.1:$((SNMP_PORT + i)){#set:tmo=1000;#set:retries=0;#set:list=bench;#set:chart=1;#set:en=1}"
    done
} >"$TMP/setup.qmk"
script "$(cat "$TMP/setup.qmk")"

# The program's CPU, in ms, in a time of (cycles - 1/2) repeat times from
# now: a cycle polls at its start, so that many polls fall in it.
WINDOW_MS=$(( CYCLES * CYCLE_MS - CYCLE_MS / 2 ))
cpu_ms_of_window() {
    local before after
    before=$(cpu_ticks "$PID")
    [ -z "${1:-}" ] || script "$1"
    sleep "$(awk "BEGIN{print $WINDOW_MS / 1000}")"
    after=$(cpu_ticks "$PID")
    echo $(( (after - before) * TICK_NS / 1000000 ))
}
per_cycle() { awk "BEGIN{printf \"%.2f\", ($1 - $2) / $CYCLES}"; }

sleep 3  # the windows drawn and the start settled
IDLE_MB=$(rss_mb)
BASE=$(cpu_ms_of_window)
ICMP=$(cpu_ms_of_window "#call:mod_icmp.start")
SNMP=$(cpu_ms_of_window "#call:mod_icmp.stop;#call:mod_snmp.start")
script "#call:mod_icmp.start"
sleep "$(awk "BEGIN{print 3 * $CYCLE_MS / 1000}")"
BUSY_MB=$(rss_mb)
PEAK_MB=$(hwm_mb)
THREADS=$(awk '/^Threads/ {print $2}' "/proc/$PID/status")
kill -TERM "$PID"
wait "$PID" || true
PID=""

# The tools' CPU per cycle, ms: the mean of five runs of one cycle's processes.
tool_cpu_ms() {
    /usr/bin/python3 - "$@" <<'EOF'
import resource, subprocess, sys
runs = 5
for _ in range(runs):
    for command in sys.argv[1:]:
        subprocess.run(command, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
u = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{(u.ru_utime + u.ru_stime) * 1000 / runs:.2f}")
EOF
}
HOST_LIST=""; for i in $(seq 1 "$HOSTS"); do HOST_LIST+=" 127.0.0.$i"; done
FPING=$(tool_cpu_ms "fping -q -c1 -t1000 $HOST_LIST")
GETS=(); for i in $(seq 0 $((AGENTS - 1))); do GETS+=("snmpget -v2c -c public -t 1 -r 0 127.0.0.1:$((SNMP_PORT + i)) ${OIDS[*]}"); done
SNMPGET=$(tool_cpu_ms "${GETS[@]}")

ratio() { awk "BEGIN{if ($2 > 0) printf \"%.1f\", $1 / $2; else print \"inf\"}"; }
Q_ICMP=$(per_cycle "$ICMP" "$BASE"); Q_SNMP=$(per_cycle "$SNMP" "$BASE")
echo "Monitoring: $HOSTS ICMP hosts, $AGENTS SNMP agents x ${#OIDS[@]} OIDs, $GRAPHS graph windows; cycle $CYCLE_MS ms, $CYCLES cycles a phase; $(nproc) CPU(s)"
echo "resident with the windows, pollers off: ${IDLE_MB} MB"
echo "monitoring resident: ${BUSY_MB} MB, peak ${PEAK_MB} MB, $THREADS threads (goal <= 50 MB)"
echo "program CPU in $WINDOW_MS ms: both off ${BASE} ms, ICMP on ${ICMP} ms, SNMP on ${SNMP} ms"
echo "ICMP cycle CPU: module ${Q_ICMP} ms, fping ${FPING} ms; fping/module = $(ratio "$FPING" "$Q_ICMP")"
echo "SNMP cycle CPU: module ${Q_SNMP} ms, snmpget ${SNMPGET} ms; snmpget/module = $(ratio "$SNMPGET" "$Q_SNMP")"
