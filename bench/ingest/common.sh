# shellcheck shell=bash disable=SC2034  # the R_* results and TICK_NS are read by the scripts that source this
# Sourced by the ingest benchmarks (run.sh: UDP, tcp_run.sh: TCP and TLS,
# footprint.sh): starting each receiver from a fresh folder, watching its
# CPU, threads and memory in /proc, waiting until it has caught up, stopping
# it and counting what it stored. The caller sets ROOT, and QM, RSYSLOGD and
# FLOOD (the udp_flood that verifies) before measuring; PID is the receiver
# being measured.

SETTLE_MAX_S=${SETTLE_MAX_S:-20}  # longest wait for a receiver to catch up after the send
STOP_MAX_S=${STOP_MAX_S:-60}      # longest wait for an orderly exit before SIGKILL
PID=""

log() { echo "$*" >&2; }
kv() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2" | head -1; }

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
TICK_NS=$(( 1000000000 / $(getconf CLK_TCK) ))
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$PID/status"; }
hwm_mb() { awk '/^VmHWM/ {printf "%.1f", $2 / 1024}' "/proc/$PID/status"; }
vm_hwm_kb() { sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$1/status" 2>/dev/null || true; }
total_size() { local s=0 f; for f in "$@"; do [ -f "$f" ] && s=$((s + $(stat -c %s "$f"))); done; echo "$s"; }

# A port on 127.0.0.1 that no socket in the given /proc/net table holds.
NEXT_PORT=${NEXT_PORT:-$((20000 + RANDOM % 20000))}
free_port() {  # /proc/net/udp or /proc/net/tcp
    while grep -qE "^ *[0-9]+: [0-9A-F]{8}:$(printf '%04X' "$NEXT_PORT") " "$1"; do
        NEXT_PORT=$((NEXT_PORT + 1))
    done
    echo "$NEXT_PORT"
    NEXT_PORT=$((NEXT_PORT + 1))
}

# Settings files hold numbers as their little-endian bytes in hex, then
# the low 8 bits of the bytes' sum; a value of several numbers (a
# rectangle, say) puts all their bytes before the one sum.
struct_fields() {  # value:byte-count ...
    local out="" sum=0 field v n b i
    for field in "$@"; do
        v=${field%%:*}; n=${field#*:}
        for ((i = 0; i < n; i++)); do
            b=$(( (v >> (8 * i)) & 255 ))
            out+=$(printf '%02X' "$b"); sum=$((sum + b))
        done
    done
    printf '%s%02X\n' "$out" $((sum & 255))
}
struct_u32() { struct_fields "$1:4"; }
struct_u8() { struct_fields "$1:1"; }

# A home from the shipped defaults with the one listener on 127.0.0.1:port;
# further Item.0 keys (Key=value) are added to it.
quillmark_home() {  # home port [Key=value ...]
    local home="$1" port="$2" ini
    shift 2
    mkdir -p "$home/Settings"
    cp "$ROOT"/resources/default-home/Settings/*.ini "$home/Settings/"
    ini="$home/Settings/mod_collector.ini"
    sed -i -e "s/^Item.0-Port=.*/Item.0-Port=$(struct_u32 "$port")/" \
           -e "s/^Item.0-StrName=.*/Item.0-StrName=127.0.0.1/" "$ini"
    local kvp
    for kvp in "$@"; do
        sed -i "/^Item.0-${kvp%%=*}=/d" "$ini"
        echo "Item.0-$kvp" >>"$ini"
    done
    # The worker looks at the queue every 200 ms instead of every 10 s, so a
    # run's events reach the files while it is still being measured.
    sed -i -e "s/^Common.Timeout=.*/Common.Timeout=$(struct_u32 200)/" "$home/Settings/mod_dbase.ini"
}
launch_quillmark() {  # dir port [Key=value ...]
    local dir="$1"; shift
    quillmark_home "$dir/home" "$@"
    QUILLMARK_HOME="$dir/home" "$QM" >"$dir/stdout" 2>"$dir/stderr" &
    PID=$!
}
quillmark_outputs() { local d="$1/home/Logs"; echo "$d"/*.log "$d"/*.log.next; }

# rsyslog from a configuration written for the run: only the given inputs,
# no imuxsock/imklog and no include of /etc/rsyslog.d, so the system's log
# is never touched; every message's raw text, one a line, into out.log.
launch_rsyslog() {  # dir global-parameters config-lines...
    local dir="$1" global="$2"
    shift 2
    mkdir -p "$dir/work"
    {
        echo "global(workDirectory=\"$dir/work\" maxMessageSize=\"8k\" $global)"
        printf '%s\n' "$@"
        # shellcheck disable=SC2028  # the \n is rsyslog's to read
        echo 'template(name="rawline" type="string" string="%rawmsg%\n")'
        echo "action(type=\"omfile\" file=\"$dir/out.log\" template=\"rawline\")"
    } >"$dir/rsyslog.conf"
    "$RSYSLOGD" -n -f "$dir/rsyslog.conf" -i "$dir/rsyslogd.pid" >"$dir/stdout" 2>"$dir/stderr" &
    PID=$!
}
rsyslog_outputs() { echo "$1/out.log"; }
rsyslog_version() { "$RSYSLOGD" -v | head -1 | sed 's/ *compiled with:$//'; }

# Waits until the receiver has bound (bound_fn port succeeds); otherwise
# shows its stderr, kills it and fails.
wait_bound() {  # bound_fn port dir what
    local i
    for ((i = 0; i < 200; i++)); do
        "$1" "$2" && return 0
        alive "$PID" || break
        sleep 0.05
    done
    "$1" "$2" && return 0
    log "$4 did not bind 127.0.0.1:$2; stderr:"; cat "$3/stderr" >&2
    kill -KILL "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; PID=""
    return 1
}

# Settled: nothing left in the receiver's sockets (queue_fn port prints
# the bytes waiting), the output unchanged and the receiver idle for 0.5 s.
# Idle matters: Quillmark holds a backlog in memory and writes it in
# bursts, so a still file alone proves nothing. Sets R_SETTLE_MS.
settle() {  # outputs_fn queue_fn port dir
    local size last=-1 cpu lastcpu=-1 still=0 waited
    for ((waited = 0; waited < SETTLE_MAX_S * 10; waited++)); do
        sample_threads
        # shellcheck disable=SC2046
        size="$(shopt -s nullglob; total_size $("$1" "$4"))"
        cpu="$(cpu_ticks "$PID")"
        if [ "$("$2" "$3")" = 0 ] && [ "$size" = "$last" ] && [ $((cpu - lastcpu)) -le 1 ]; then
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
    return 0
}

# SIGTERM, then SIGKILL after STOP_MAX_S. Sets R_STOP_MS, R_RC, R_THREADS.
stop_receiver() {
    local t0 t1 i
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
}

# Counts the sequence numbers in what the receiver wrote. Sets R_UNIQUE,
# R_MISSING, R_DUP, R_LOSS, R_LOSSLESS, R_RANGES; notes anything the
# receiver said beyond its start/stop progress lines.
verify_outputs() {  # outputs_fn dir count
    local verify said
    # shellcheck disable=SC2046
    verify="$(shopt -s nullglob; "$FLOOD" verify --expect "$3" $("$1" "$2") 2>&1 || true)"
    R_UNIQUE="$(kv unique "$verify")"
    R_MISSING="$(kv missing "$verify")"
    R_DUP="$(kv duplicates "$verify")"
    R_LOSS="$(kv loss_pct "$verify")"
    R_LOSSLESS="$(kv lossless "$verify")"
    R_RANGES="$(kv missing_ranges "$verify")"
    [ -n "$R_LOSSLESS" ] || { R_LOSSLESS=no; R_NOTE+="verify-failed "; }
    # A home made of settings alone has no icons, and the bench has no tray.
    said="$(grep -vE '^((Loading|Shutting down) \.\.\.|No icons in |No system tray)' "$2/stderr" | head -3 | tr '\n' ' ' || true)"
    [ -n "$said" ] && R_NOTE+="stderr: $said"
    [ -n "$R_RANGES" ] && R_NOTE+="gaps: $R_RANGES "
    return 0
}
