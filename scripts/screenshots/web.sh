#!/usr/bin/env bash
# Takes the README's picture of the web page filtering its table: the real
# program on a new home (no display needed), real logger lines of several
# severities, and headless Chromium opening the page with a filter in the
# address. QM_WEB_PORT and QM_SYSLOG_PORT choose the ports (18081, 15514).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/scripts/lib/screenshots.sh"

ensure_packages "${BUILD_PACKAGES[@]}" bsdutils chromium curl
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo -- quillmark

WEB_PORT="${QM_WEB_PORT:-18081}"
SYSLOG_PORT="${QM_SYSLOG_PORT:-15514}"
OUT="$ROOT/docs/screenshots/web-filter.png"
screenshots_work_folder
mkdir -p "$WORK/home"
cp -R "$ROOT/resources/default-home/." "$WORK/home/"
sed -i "s/^Item.0-Port=.*/Item.0-Port=$(struct_hex 4 "$WEB_PORT")/" "$WORK/home/Settings/mod_httpserver.ini"
sed -i "s/^Item.0-Port=.*/Item.0-Port=$(struct_hex 4 "$SYSLOG_PORT")/; s/^Item.0-StrName=.*/Item.0-StrName=127.0.0.1/" \
    "$WORK/home/Settings/mod_collector.ini"
rm -f "$WORK/home/Settings/mod_icmp.ini"  # no pings among the lines

QUILLMARK_HOME="$WORK/home" "$ROOT/build/quillmark" >"$WORK/out.txt" 2>&1 &
PID=$!
URL="http://127.0.0.1:$WEB_PORT/"
for _ in $(seq 100); do curl -sf -o /dev/null "$URL" && break; sleep 0.2; done

send() {  # priority tag text
    logger -n 127.0.0.1 -P "$SYSLOG_PORT" -d --rfc3164 -p "$1" -t "$2" "$3"
    sleep 0.05
}
send local0.info linkd "ge-0/0/1: link up, 1000 Mb/s full duplex"
send local0.notice ospfd "neighbour 10.0.0.2 state Full"
send daemon.info sshd "Accepted publickey for backup from 10.0.0.40 port 52114"
send local0.warning linkd "ge-0/0/3: link flapping, 4 changes in 60 s"
send daemon.info cron "(root) CMD (/usr/local/bin/rotate-logs)"
send local0.err linkd "ge-0/0/1: link down (loss of signal)"
send kern.warning kernel "eth1: link is not ready"
send daemon.notice ntpd "clock step of 0.412 s"
send local0.crit linkd "ge-0/0/2: link down, LACP group po1 lost its last member"
send daemon.err sshd "error: maximum authentication attempts exceeded for root from 203.0.113.7"
send local0.info linkd "ge-0/0/1: link up, 1000 Mb/s full duplex"
send user.debug app "cache hit ratio 0.93"
sleep 1.5

chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
    --user-data-dir="$WORK/chromium" --window-size=1180,270 --virtual-time-budget=5000 \
    --screenshot="$OUT" "$URL#text=link&sev=4" 2>"$WORK/chromium.txt"
echo "$OUT"
