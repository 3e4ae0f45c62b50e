#!/usr/bin/env bash
# Takes the README's screenshots: the real program under Xvfb with a prepared
# home (a plain and a grouped event list), real syslog lines from logger, an
# info box opened by double-clicking a row, the loading window, the graph of
# the program's own figures, the status note with its menu, About, the
# settings dialog's script editor with the protocol of a run, and the
# pollers: a graph of ping round trips with a gap, and the events of an SNMP
# agent (a real snmpd) in a list.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/scripts/lib/screenshots.sh"

SHOT_PACKAGES=(bsdutils x11-utils snmpd iproute2 python3)
screenshots_under_xvfb "$0" "$@"

OUT="$ROOT/docs/screenshots"
mkdir -p "$OUT"
screenshots_work_folder
cp -R "$ROOT/resources/default-home/." "$WORK/"
cp -R "$ROOT/scripts/screenshots/home/." "$WORK/"
export QUILLMARK_HOME="$WORK"
unset QT_QPA_PLATFORM

shoot() {  # window name pattern, file
    local id=""
    for _ in $(seq 100); do
        id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
        [ -n "$id" ] && break
        sleep 0.05
    done
    if [ -z "$id" ]; then
        echo "no window named $1" >&2
        return 1
    fi
    # The picture is taken from the screen: nothing may lie on top.
    xdotool windowraise "$id"
    sleep 0.5
    import -window "$id" "$OUT/$2"
    echo "wrote docs/screenshots/$2"
}

# The pollers' peers. A host a few milliseconds away sits behind a TUN
# device (root only: it needs CAP_NET_ADMIN); it stops answering while
# $WORK/unreachable exists. The SNMP agent is snmpd on a loopback port.
SLOW_HOST=10.77.0.2
if [ "$(id -u)" -eq 0 ] && [ -c /dev/net/tun ]; then
    python3 "$ROOT/scripts/screenshots/slow_host.py" qmshot0 "$WORK/unreachable" &
    PEERS+=($!)
    for _ in $(seq 50); do ip link show qmshot0 >/dev/null 2>&1 && break; sleep 0.1; done
    ip addr add 10.77.0.1/24 dev qmshot0 && ip link set qmshot0 up
else
    echo "not root or no /dev/net/tun: the ping graph will show only gaps" >&2
fi
SNMP_PORT=16161
mkdir -p "$WORK/snmpd/persist"
cat >"$WORK/snmpd/snmpd.conf" <<CONF
[snmp] persistentDir $WORK/snmpd/persist
rocommunity public 127.0.0.1
sysName core-sw1
sysDescr Quillmark lab switch, 24 ports, firmware 3.2.1
CONF
SNMP_PERSISTENT_DIR="$WORK/snmpd/persist" MIBS="" /usr/sbin/snmpd -f -Lo -C -c "$WORK/snmpd/snmpd.conf" \
    "udp:127.0.0.1:$SNMP_PORT" >"$WORK/snmpd/log" 2>&1 &
PEERS+=($!)

"$ROOT/build/quillmark" >"$WORK/program.log" 2>&1 &
PID=$!
# The loading window is up only while start-up lasts, which is quicker than
# a look for it: the program runs in short steps, held still between them,
# until the window is there, and stays held while it is taken.
LOADING=""
for _ in $(seq 500); do
    kill -STOP "$PID"
    LOADING="$(xdotool search --onlyvisible --name '^Quillmark$' 2>/dev/null | grep -E '^[0-9]+$' | head -1 || true)"
    [ -n "$LOADING" ] && break
    kill -CONT "$PID"
    sleep 0.005
done
# Just shown, it may not be painted yet: a few more steps until the picture
# is no longer black.
TAKEN=""
for _ in $(seq 20); do
    [ -n "$LOADING" ] || break
    import -window "$LOADING" "$WORK/loading.png" 2>/dev/null || break
    if [ "$(convert "$WORK/loading.png" -format '%[fx:mean>0.05]' info:)" = 1 ]; then
        TAKEN=1
        break
    fi
    kill -CONT "$PID"
    sleep 0.005
    kill -STOP "$PID"
    xdotool search --onlyvisible --name '^Quillmark$' 2>/dev/null | grep -qx "$LOADING" || break
done
kill -CONT "$PID"
if [ -n "$TAKEN" ]; then
    cp "$WORK/loading.png" "$OUT/loading-window.png"
    echo "wrote docs/screenshots/loading-window.png"
else
    echo "the loading window was gone before it could be taken" >&2
fi

sleep 2
PORT=5514
# The pollers are set up the way a user would: by script. The second agent
# has nobody listening, so its item gives the error event.
cat >"$WORK/pollers.qmk" <<QMK
#set:mod_icmp{#set:en=1;#set:repeat=1000;#set:recv=900}
#set:mod_icmp=$SLOW_HOST{#set:en=1;#set:chart=1;#set:fmt=On-line, response [msec] ms, ttl [ttl]}
#call:mod_icmp.start
#set:mod_snmp.list=sys{#set:enable=1;#set:format=Description: [desc], up [up];#set:push=desc;#set:push=up;#set:oid|desc=.1.3.6.1.2.1.1.1.0;#set:oid|up=.1.3.6.1.2.1.1.3.0}
#set:mod_snmp=127.0.0.1:$SNMP_PORT{#set:reset=1;#set:en=1;#set:list=sys}
#set:mod_snmp=127.0.0.1:$((SNMP_PORT + 1)){#set:reset=1;#set:en=1;#set:list=sys;#set:tmo=500;#set:retries=0}
#set:mod_snmp{#set:en=1;#set:rpt=4000}
#call:mod_snmp.start
QMK
"$ROOT/build/quillmark" -script "$WORK/pollers.qmk" >"$WORK/pollers.log" 2>&1 || cat "$WORK/pollers.log" >&2
SEVERITIES=(emerg alert crit err warning notice info debug)
# Lines that a relaying Quillmark would send carry their first sender and
# time after "|a2;"; it gives the grouped list several devices to show.
DEVICES=(192.0.2.10 192.0.2.21 192.0.2.33 192.0.2.47)
TAGS=(core-sw1 edge-rt2 ups-3 nas-01)
MESSAGES=(
    "Interface GigabitEthernet0/1 changed state to down"
    "BGP neighbor 10.0.0.2 Down: hold time expired"
    "Temperature sensor 2 above threshold: 71 C"
    "Failed password for admin from 198.51.100.44 port 52211 ssh2"
    "Battery on UPS 3 is discharging"
    "Configuration saved by operator"
    "DHCP lease granted to 192.168.1.57"
    "SNMP poll of ifTable took 124 ms"
)
for round in 1 2 3 4; do
    for i in "${!SEVERITIES[@]}"; do
        d=$(( (i + round) % ${#DEVICES[@]} ))
        when="$(date +'%-d %-m %Y %-H %-M %-S 0')"
        logger -n 127.0.0.1 -P "$PORT" --rfc3164 -t "${TAGS[$d]}" -p "local0.${SEVERITIES[$i]}" \
            "${MESSAGES[$i]} (round $round)|a2;${DEVICES[$d]};$when;"
    done
    sleep 0.3
done
sleep 3

shoot '^Syslog$' event-list.png
shoot '^Syslog by sender$' event-list-grouped.png

# Details of one row: double-click the first in the plain list, which is
# sorted newest first, so it is a device's line.
LIST="$(xdotool search --onlyvisible --name '^Syslog$' | head -1)"
xdotool windowactivate --sync "$LIST" 2>/dev/null || true
xdotool mousemove --window "$LIST" 420 36 click --repeat 2 --delay 80 1
sleep 1
shoot 'Событие' info-box.png

# The program's own figures arrive every 10 s: a minute of traffic in waves
# gives the graph something to draw.
# Meanwhile the slow host is unreachable for a while: a gap in its graph.
for step in $(seq 60); do
    [ "$step" = 25 ] && touch "$WORK/unreachable"
    [ "$step" = 37 ] && rm -f "$WORK/unreachable"
    for _ in $(seq $(( (step % 12) * 4 + 1 ))); do
        logger -n 127.0.0.1 -P "$PORT" --rfc3164 -t "${TAGS[$(( step % 4 ))]}" -p local0.info \
            "SNMP poll of ifTable took $(( 50 + step )) ms|a2;${DEVICES[$(( step % 4 ))]};$(date +'%-d %-m %Y %-H %-M %-S 0');"
    done
    sleep 1
done
sleep 11
shoot '^Program$' graph.png
shoot '^Ping$' icmp-graph.png
# The pings fill the pollers' list every second; without them for a while
# its newest rows are the SNMP agents' events.
printf '#call:mod_icmp.stop\n' >"$WORK/quiet.qmk"
"$ROOT/build/quillmark" -script "$WORK/quiet.qmk" >>"$WORK/pollers.log" 2>&1 || cat "$WORK/pollers.log" >&2
sleep 34
shoot '^Devices$' snmp-events.png

# Without a tray (as here) the status note stays shown and its right click
# opens the program's menu.
NOTE="$(xdotool search --onlyvisible --name '^Quillmark$' | head -1)"
shoot '^Quillmark$' core-window.png
open_menu() {  # prints the menu's window id
    xdotool mousemove --window "$NOTE" 150 40 click 3
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --class quillmark 2>/dev/null); do
            if xwininfo -id "$id" | grep -q "Override Redirect State: yes"; then echo "$id"; return 0; fi
        done
        sleep 0.05
    done
    echo "the note's menu did not open" >&2
    return 1
}
MENU="$(open_menu)"
sleep 0.5
import -window "$MENU" "$OUT/core-menu.png"
echo "wrote docs/screenshots/core-menu.png"
# The last entry is "Выход"; above it About, above that the settings.
xdotool key Up Up Return
sleep 1
shoot '^О программе' about.png
xdotool key Escape
sleep 0.5
open_menu >/dev/null
xdotool key Up Up Up Return
sleep 1
# The page list has the focus; the script editor is the last page.
xdotool key End
sleep 1
shoot '^Настройки$' settings.png
# The editor runs the home's default script; the report comes up in the
# protocol window.
xdotool key Tab ctrl+Return
sleep 2
shoot 'Script protocol' script-protocol.png

kill -TERM "$PID"
wait "$PID" || true
