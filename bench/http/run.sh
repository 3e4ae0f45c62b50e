#!/usr/bin/env bash
# HTTP benchmark: Quillmark's web server against nginx, both on 127.0.0.1,
# both closing every connection after one answer, measured with wrk in one
# run: a 1 KB file, a 1 MB file and the `log` resource listing 100 events
# (nginx serves the same bytes as a static file), and the 1 KB file again
# while 50 idle connections are held open. Then the three resources again
# with the client asking to keep its connections (wrk's and ab's
# keep-alive), and with ab in both ways. See bench/http/README.md.
#
#   bench/http/run.sh [--build-dir DIR] [--secs S] [--connections C] [--threads T] [--idle N] [--keep]
#   QM_BENCH_NO_BUILD=1 skips the package check and the build.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

BUILD_DIR=build-http-release  # its own Release tree; build/ is the run script's
SECS=10
CONNECTIONS=16
THREADS=2
IDLE=50
KEEP=0
while [ $# -gt 0 ]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift ;;
        --secs) SECS="$2"; shift ;;
        --connections) CONNECTIONS="$2"; shift ;;
        --threads) THREADS="$2"; shift ;;
        --idle) IDLE="$2"; shift ;;
        --keep) KEEP=1 ;;
        -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
    shift
done

log() { echo "$*" >&2; }

[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || ensure_packages "${BUILD_PACKAGES[@]}" wrk apache2-utils nginx-light curl python3
NGINX="$(command -v nginx || echo /usr/sbin/nginx)"
[ -x "$NGINX" ] || { log "nginx not found"; exit 1; }

[ "${QM_BENCH_NO_BUILD:-0}" = 1 ] || build_release_quietly "$BUILD_DIR"
case "$BUILD_DIR" in
    /*) QM="$BUILD_DIR/quillmark" ;;
    *) QM="$ROOT/$BUILD_DIR/quillmark" ;;
esac

TMPROOT="$(mktemp -d "${TMPDIR:-/tmp}/qm-http-bench.XXXXXX")"
# Started by root, nginx's workers run as an unprivileged user: they must
# be able to reach its files.
chmod 711 "$TMPROOT"
QM_PID=""
NGINX_PID=""
IDLE_PID=""
cleanup() {
    [ -n "$IDLE_PID" ] && kill "$IDLE_PID" 2>/dev/null || true
    [ -n "$QM_PID" ] && kill "$QM_PID" 2>/dev/null && wait "$QM_PID" 2>/dev/null || true
    [ -n "$NGINX_PID" ] && kill "$NGINX_PID" 2>/dev/null || true
    if [ "$KEEP" = 1 ]; then log "kept $TMPROOT"; else rm -rf "$TMPROOT"; fi
}
trap cleanup EXIT

# A loopback TCP/UDP port nothing uses now.
free_port() {
    local p
    while :; do
        p=$((20000 + RANDOM % 30000))
        ss -Htan "sport = :$p" | grep -q . || ss -Hun "sport = :$p" | grep -q . || { echo "$p"; return; }
    done
}
# A number in the settings files' struct form: little-endian bytes as hex,
# then the low byte of their sum.
struct_u32() {
    local v=$1 b sum=0 out=""
    for i in 0 1 2 3; do
        b=$(((v >> (8 * i)) & 255))
        sum=$((sum + b))
        out+=$(printf '%02X' "$b")
    done
    printf '%s%02X' "$out" $((sum & 255))
}
struct_u8() { printf '%02X%02X' "$1" "$1"; }

HTTP_PORT=$(free_port)
NGINX_PORT=$(free_port)
NGINX_KEEP_PORT=$(free_port)  # the same files, connections kept
SYSLOG_PORT=$(free_port)

# --- Quillmark home -------------------------------------------------------------
HOME_DIR="$TMPROOT/qm-home"
WEB="$HOME_DIR/Resource/Web"
mkdir -p "$HOME_DIR/Settings" "$WEB"
cat >"$HOME_DIR/Settings/mod_collector.ini" <<EOF
[mod_collector]
Version=2
Common.EnableService=$(struct_u8 1)
Common.BufferSize=$(struct_u32 8192)
ItemCount=$(struct_u32 1)
Item.0-Enable=$(struct_u8 1)
Item.0-Port=$(struct_u32 "$SYSLOG_PORT")
Item.0-StrName=127.0.0.1
EOF
# MaxConn above wrk's connection count, so only the servers themselves limit;
# the idle time-out as nginx's for a request head (60 s), so the idle
# connections stay for the whole measurement on both.
cat >"$HOME_DIR/Settings/mod_httpserver.ini" <<EOF
[mod_httpserver]
Version=2
Common.EnableService=$(struct_u8 1)
Common.MaxConn=$(struct_u32 100)
Common.Timeout=$(struct_u32 60000)
ItemCount=$(struct_u32 1)
Item.0-Enable=$(struct_u8 1)
Item.0-StrName=127.0.0.1
Item.0-Port=$(struct_u32 "$HTTP_PORT")
Item.0-Param=$(struct_u8 0)
Item.0-EventParam=$(struct_u8 48)
Item.0-MsgBufferSize=$(struct_u32 100)
EOF
# Neither server writes a request log here.
cat >"$WEB/http.ini" <<'EOF'
[ip-access]
*=D
127.0.0.1=A
[content-access]
*=A
\http.ini=D
[mime]
*=application/octet-stream
\log=text/plain; charset=utf-8
[log]
level=0
EOF
head -c 1024 /dev/urandom >"$WEB/1k.bin"
head -c 1048576 /dev/urandom >"$WEB/1m.bin"

log "Starting Quillmark on 127.0.0.1:$HTTP_PORT ..."
QUILLMARK_HOME="$HOME_DIR" "$QM" >"$TMPROOT/quillmark.out" 2>&1 &
QM_PID=$!
for _ in $(seq 1 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$HTTP_PORT/1k.bin" && break
    sleep 0.1
done
curl -sf -o /dev/null "http://127.0.0.1:$HTTP_PORT/1k.bin" || { cat "$TMPROOT/quillmark.out" >&2; exit 1; }

# 150 events, so the newest 100 records of the queue are all syslog events.
for i in $(seq 1 150); do
    printf '<14>bench event %03d from the http benchmark' "$i" >"/dev/udp/127.0.0.1/$SYSLOG_PORT"
done
for _ in $(seq 1 100); do
    curl -s "http://127.0.0.1:$HTTP_PORT/log" >"$TMPROOT/log.txt"
    grep -q 'bench event 150' "$TMPROOT/log.txt" && break
    sleep 0.1
done
EVENTS=$(grep -c 'bench event' "$TMPROOT/log.txt" || true)
[ "$EVENTS" = 100 ] || { log "the log resource lists $EVENTS events, not 100"; exit 1; }

# --- nginx ------------------------------------------------------------------------
NGINX_DIR="$TMPROOT/nginx"
mkdir -p "$NGINX_DIR/www" "$NGINX_DIR/tmp"
cp "$WEB/1k.bin" "$WEB/1m.bin" "$NGINX_DIR/www/"
cp "$TMPROOT/log.txt" "$NGINX_DIR/www/log"
chmod -R a+rX "$NGINX_DIR/www"
cat >"$NGINX_DIR/nginx.conf" <<EOF
daemon off;
worker_processes auto;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/error.log warn;
events { worker_connections 1024; }
http {
    access_log off;
    keepalive_timeout 0;
    sendfile on;
    client_body_temp_path $NGINX_DIR/tmp/body;
    proxy_temp_path $NGINX_DIR/tmp/proxy;
    fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
    uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
    scgi_temp_path $NGINX_DIR/tmp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$NGINX_PORT;
        root $NGINX_DIR/www;
        location = /log { default_type "text/plain; charset=utf-8"; add_header Cache-Control no-store; }
    }
    server {
        listen 127.0.0.1:$NGINX_KEEP_PORT;
        keepalive_timeout 65;
        keepalive_requests 1000000;
        root $NGINX_DIR/www;
        location = /log { default_type "text/plain; charset=utf-8"; add_header Cache-Control no-store; }
    }
}
EOF
log "Starting nginx on 127.0.0.1:$NGINX_PORT ..."
"$NGINX" -c "$NGINX_DIR/nginx.conf" -p "$NGINX_DIR" >"$NGINX_DIR/stdout.log" 2>&1 &
NGINX_PID=$!
for _ in $(seq 1 100); do
    curl -sf -o /dev/null "http://127.0.0.1:$NGINX_PORT/1k.bin" && break
    sleep 0.1
done
curl -sf -o /dev/null "http://127.0.0.1:$NGINX_PORT/1k.bin" || { cat "$NGINX_DIR/error.log" >&2; exit 1; }

# --- measure ------------------------------------------------------------------------
# requests/s, or "0" when wrk saw errors or non-2xx answers. With "keep"
# the client asks to keep its connection (HTTP/1.1's default).
measure() {
    local url=$1 keep=${2:-} out
    local close=(-H "Connection: close")
    [ "$keep" = keep ] && close=()
    out=$(wrk -t"$THREADS" -c"$CONNECTIONS" -d"${SECS}s" "${close[@]}" "$url" 2>&1)
    echo "$out" >>"$TMPROOT/wrk.txt"
    if echo "$out" | grep -q "Non-2xx"; then
        log "non-2xx answers from $url"
        echo "$out" >&2
    fi
    echo "$out" | awk '/Requests\/sec:/ {print $2}'
}

# Holds N connections to port $1 open without a word, opening a new one
# for any the server closes, until killed.
hold_idle() {
    python3 - "$1" "$IDLE" <<'PY'
import socket, sys, time
port, count = int(sys.argv[1]), int(sys.argv[2])
def one():
    # A connect refused while wrk floods the listener is tried again.
    while True:
        try:
            s = socket.create_connection(("127.0.0.1", port))
            s.setblocking(False)
            return s
        except OSError:
            time.sleep(0.05)
held = [one() for _ in range(count)]
print("holding", flush=True)
while True:
    time.sleep(0.5)
    for i, s in enumerate(held):
        try:
            if s.recv(1) == b"":
                raise OSError
        except BlockingIOError:
            continue
        except OSError:
            s.close()
            held[i] = one()
PY
}

# The same with ab (one thread; -k asks for keep-alive).
measure_ab() {
    local url=$1 keep=${2:-} out
    local k=()
    [ "$keep" = keep ] && k=(-k)
    out=$(ab -q -t "$SECS" -n 100000000 -c "$CONNECTIONS" "${k[@]}" "$url" 2>&1)
    echo "$out" >>"$TMPROOT/ab.txt"
    if echo "$out" | grep -Eq "Non-2xx|^Failed requests: *[1-9]"; then
        log "failed or non-2xx answers from $url (ab)"
        echo "$out" | grep -E "Non-2xx|Failed" >&2
    fi
    echo "$out" | awk '/^Requests per second:/ {print $4}'
}

TARGETS=(1k.bin 1m.bin log idle)
declare -A RESULT
for target in "${TARGETS[@]}"; do
    for server in quillmark nginx; do
        port=$HTTP_PORT
        [ "$server" = nginx ] && port=$NGINX_PORT
        path=$target
        if [ "$target" = idle ]; then
            path=1k.bin
            hold_idle "$port" >"$TMPROOT/idle.out" &
            IDLE_PID=$!
            for _ in $(seq 1 100); do grep -q holding "$TMPROOT/idle.out" && break; sleep 0.1; done
            log "wrk ${SECS}s, $CONNECTIONS connections, $IDLE idle held: $server /$path"
        else
            log "wrk ${SECS}s, $CONNECTIONS connections: $server /$path"
        fi
        RESULT[$server/$target]=$(measure "http://127.0.0.1:$port/$path")
        if [ -n "$IDLE_PID" ]; then
            kill "$IDLE_PID" 2>/dev/null || true
            wait "$IDLE_PID" 2>/dev/null || true
            IDLE_PID=""
        fi
    done
done

# Keep-alive asked for, and ab both ways. nginx keeps its connections on
# a port of its own; Quillmark's answers say "Connection: close" whatever
# the client asks, so its clients connect anew for each request.
MORE=(1k.bin 1m.bin log)
for mode in wrk-keep ab ab-keep; do
    for target in "${MORE[@]}"; do
        for server in quillmark nginx; do
            port=$HTTP_PORT
            [ "$server" = nginx ] && port=$NGINX_PORT
            keep=""
            if [ "${mode#*-}" = keep ]; then
                keep=keep
                [ "$server" = nginx ] && port=$NGINX_KEEP_PORT
            fi
            log "$mode ${SECS}s, $CONNECTIONS connections: $server /$target"
            if [ "${mode%%-*}" = ab ]; then
                RESULT[$server/$mode/$target]=$(measure_ab "http://127.0.0.1:$port/$target" "$keep")
            else
                RESULT[$server/$mode/$target]=$(measure "http://127.0.0.1:$port/$target" "$keep")
            fi
        done
    done
done

name_of() {
    case "$1" in
        1k.bin) echo "1 KB file" ;;
        1m.bin) echo "1 MB file" ;;
        log) echo "/log, 100 events" ;;
        idle) echo "1 KB, $IDLE idle held" ;;
    esac
}
echo
echo "Requests per second (wrk -t$THREADS -c$CONNECTIONS -d${SECS}s, Connection: close, $(nproc) CPUs)"
printf '%-22s %14s %14s\n' "resource" "quillmark" "nginx"
for target in "${TARGETS[@]}"; do
    printf '%-22s %14s %14s\n' "$(name_of "$target")" "${RESULT[quillmark/$target]}" "${RESULT[nginx/$target]}"
done
for mode in wrk-keep ab ab-keep; do
    case "$mode" in
        wrk-keep) what="wrk, keep-alive asked for"; prefix=""; suffix=", keep-alive" ;;
        ab) what="ab -c$CONNECTIONS -t$SECS, Connection: close"; prefix="ab: "; suffix="" ;;
        ab-keep) what="ab -k -c$CONNECTIONS -t$SECS, keep-alive asked for"; prefix="ab: "; suffix=", keep-alive" ;;
    esac
    echo
    echo "Requests per second ($what)"
    for target in "${MORE[@]}"; do
        printf '%-34s %14s %14s\n' "$prefix$(name_of "$target")$suffix" "${RESULT[quillmark/$mode/$target]}" \
            "${RESULT[nginx/$mode/$target]}"
    done
done
echo
echo "Ratios (quillmark / nginx)"
for target in "${TARGETS[@]}"; do
    awk -v a="${RESULT[quillmark/$target]}" -v b="${RESULT[nginx/$target]}" -v t="$(name_of "$target")" \
        'BEGIN { if (b > 0) printf "%-34s %8.2fx\n", t, a / b; else printf "%-34s %8s\n", t, "n/a" }'
done
for mode in wrk-keep ab ab-keep; do
    for target in "${MORE[@]}"; do
        awk -v a="${RESULT[quillmark/$mode/$target]}" -v b="${RESULT[nginx/$mode/$target]}" -v t="$mode $(name_of "$target")" \
            'BEGIN { if (b > 0) printf "%-34s %8.2fx\n", t, a / b; else printf "%-34s %8s\n", t, "n/a" }'
    done
done
