#!/usr/bin/env bash
# Takes the README's pictures of an event list's header columns and its
# filter bar: a new home whose "Syslog" window shows the host, application
# and PID columns and the message without its header, fed real syslog lines
# over UDP (RFC 5424 lines from a few devices, RFC 3164 lines from logger);
# then Ctrl+F, a text typed and a level chosen, as a user does. The real
# program under Xvfb, as scripts/screenshots.sh does.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/scripts/lib/screenshots.sh"

SHOT_PACKAGES=(bsdutils python3)
screenshots_under_xvfb "$0" "$@"

OUT="$ROOT/docs/screenshots"
mkdir -p "$OUT"
screenshots_work_folder
cp -R "$ROOT/resources/default-home/." "$WORK/"
export QUILLMARK_HOME="$WORK"
unset QT_QPA_PLATFORM
# The Syslog window wide enough for the columns, showing host (0x02),
# application (0x04), PID (0x08) and the message without its header (0x80).
INI="$WORK/Settings/mod_window.ini"
sed -i "s/^Item.0-Rect=.*/Item.0-Rect=$(struct_hex 4 10 10 1150 440)/" "$INI"
sed -i "s/^Wnd.1.Rule-Size=.*/&\nWnd.1-Columns=$(struct_hex 1 $((0x02 | 0x04 | 0x08 | 0x80)))\nWnd.1-HeaderColSize=$(struct_hex 4 130 90 80 60 90)/" "$INI"

"$ROOT/build/quillmark" >"$WORK/program.log" 2>&1 &
PID=$!
window() {  # name pattern; prints the id
    for _ in $(seq 200); do
        id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    echo "no window named $1" >&2
    return 1
}
LIST="$(window '^Syslog$')"
sleep 2

PORT=5514
# Devices that speak RFC 5424, each line its own datagram, as rsyslog or a
# switch sends them; and the machine's own programs through logger (RFC 3164).
python3 - "$PORT" <<'PY'
import datetime, socket, sys, time
port = int(sys.argv[1])
lines = [
    (11, "core-sw1", "ifmgr", "812", "LINK", "Interface GigabitEthernet0/1 changed state to down"),
    (14, "core-sw1", "ifmgr", "812", "LINK", "Interface GigabitEthernet0/1 changed state to up"),
    (12, "edge-rt2", "bgpd", "1201", "NBR", "BGP neighbor 10.0.0.2 Down: hold time expired"),
    (14, "edge-rt2", "bgpd", "1201", "NBR", "BGP neighbor 10.0.0.2 Up"),
    (10, "ups-3", "upsmon", "77", "POWER", "UPS on battery, runtime 14 min"),
    (13, "nas-01", "smartd", "455", "DISK", "Device /dev/sdb: 8 currently unreadable sectors"),
    (14, "nas-01", "sshd", "30211", "-", "Accepted publickey for backup from 192.0.2.40 port 51522"),
    (12, "web-02", "nginx", "2044", "ACCESS", "upstream timed out (110) while reading response header"),
    (14, "web-02", "nginx", "2044", "ACCESS", "GET /status 200 0.004 s"),
    (11, "db-01", "postgres", "918", "-", "could not write to file \"pg_wal/xlogtemp.918\": No space left on device"),
    (13, "core-sw1", "stp", "-", "TOPO", "Topology change on VLAN 20, port Gi0/7 is now forwarding"),
    (14, "db-01", "postgres", "918", "-", "checkpoint complete: wrote 1843 buffers (11.2%)"),
]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for rounds in range(2):
    for pri, host, app, pid, msgid, msg in lines:
        now = datetime.datetime.now().astimezone().isoformat(timespec="milliseconds")
        s.sendto(f"<{pri + 120}>1 {now} {host} {app} {pid} {msgid} - {msg}".encode(), ("127.0.0.1", port))
        time.sleep(0.05)
PY
logger -n 127.0.0.1 -P "$PORT" --rfc3164 -t cron -i -p cron.info "(backup) CMD (/usr/local/bin/nightly-backup)"
logger -n 127.0.0.1 -P "$PORT" --rfc3164 -t kernel -p kern.warning "EXT4-fs (sdb1): warning: mounting fs with errors, running e2fsck is recommended"
logger -n 127.0.0.1 -P "$PORT" --rfc3164 -t systemd -p daemon.notice "Started Daily apt upgrade and clean activities."
sleep 3

shoot() {  # file
    xdotool windowraise "$LIST"
    sleep 0.5
    import -window "$LIST" "$OUT/$1"
    echo "wrote docs/screenshots/$1"
}
shoot event-list-columns.png

# The filter as a user sets it: Ctrl+F, a word, then the level box (the
# text's two buttons lie between) from "any" down to Warning.
xdotool windowactivate --sync "$LIST" 2>/dev/null || true
xdotool mousemove --window "$LIST" 400 200 click 1
sleep 0.3
xdotool key ctrl+f
sleep 0.5
xdotool type --delay 80 "down"
sleep 0.5
xdotool key Tab Tab Tab Down Down Down Down Down
sleep 1.5
shoot event-list-filter.png

kill -TERM "$PID"
wait "$PID" || true
PID=""
