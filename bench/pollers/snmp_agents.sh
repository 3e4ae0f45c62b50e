# shellcheck shell=bash disable=SC2034  # SIM is read by the caller
# Sourced by the benchmarks that poll SNMP agents (pollers/run.sh,
# monitor/run.sh): snmpsimd serving one set of records on a run of loopback
# ports, the community "public".

# Starts the agents in DIR (made and left to the caller to remove) and sets
# SIM to snmpsimd's pid; returns once the last agent answers for the first
# record (at most a minute).
start_snmp_agents() {  # dir first-port count "oid|type|value"...
    local dir="$1" first="$2" count="$3" i
    shift 3
    mkdir -p "$dir/data" "$dir/cache"
    printf '%s\n' "$@" >"$dir/data/public.snmprec"
    chmod -R a+rwX "$dir"
    local endpoints=() as_user=()
    for ((i = 0; i < count; i++)); do endpoints+=("--agent-udpv4-endpoint=127.0.0.1:$((first + i))"); done
    # snmpsimd refuses to run as root.
    [ "$(id -u)" -eq 0 ] && as_user=(--process-user=nobody --process-group=nogroup)
    snmpsimd --data-dir="$dir/data" --cache-dir="$dir/cache" "${endpoints[@]}" "${as_user[@]}" \
        --logging-method=null >"$dir/snmpsimd.log" 2>&1 &
    SIM=$!
    for _ in $(seq 120); do
        snmpget -v2c -c public -t 1 -r 0 "127.0.0.1:$((first + count - 1))" "${1%%|*}" >/dev/null 2>&1 && return 0
        sleep 0.5
    done
}
