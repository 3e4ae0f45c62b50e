#!/usr/bin/env bash
# Takes the README's pictures of the settings dialog: a new home started
# with -locale EN on its ICMP, collector, rules, SNMP, graphs and windows
# pages (the home's ping of 127.0.0.1 switched on and its graph, one rule
# that the Syslog window applies, one SNMP agent with its list set by
# script), then the windows page again in Russian. The real program under
# Xvfb, as scripts/screenshots.sh does.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"
. "$ROOT/scripts/lib/screenshots.sh"

SHOT_PACKAGES=()
screenshots_under_xvfb "$0" "$@"

OUT="$ROOT/docs/screenshots"
screenshots_work_folder
cp -R "$ROOT/resources/default-home/." "$WORK/"
export QUILLMARK_HOME="$WORK"
cat >"$WORK/Settings/mod_rules.ini" <<INI
[mod_rules]
Version=2
ItemCount=$(struct_hex 4 1)
Item.0-Enable=$(struct_hex 1 1)
Item.0-StrName=Link down in red
Item.0-UID=$(struct_hex 8 1)
Item.0-InCond1=$(struct_hex 1 1)
Item.0-StrInCond1=link down
Item.0-OutColor=$(struct_hex 4 $((0x0000FF)))
INI
# The Syslog window applies the rule; the example host is pinged.
sed -i "s/^Wnd.1.Rule-Size=.*/Wnd.1.Rule-Size=$(struct_hex 4 1)\nWnd.1.Rule.0-ID=$(struct_hex 8 1)/" "$WORK/Settings/mod_window.ini"
sed -i "s/^Item.0-Enable=.*/Item.0-Enable=$(struct_hex 1 1)/" "$WORK/Settings/mod_icmp.ini"
unset QT_QPA_PLATFORM

start() {  # locale
    "$ROOT/build/quillmark" -locale "$1" >"$WORK/out-$1.txt" 2>&1 &
    PID=$!
}
start EN
window() {  # name pattern; prints the id
    for _ in $(seq 200); do
        id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)"
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    echo "no window named $1" >&2
    return 1
}
# Without a tray the status note stays shown; its menu's third entry from
# the bottom is Settings.
open_settings() {  # the dialog's title
    NOTE="$(window '^Quillmark$')"
    sleep 2
    xdotool mousemove --window "$NOTE" 150 40 click 3
    sleep 1
    xdotool key Up Up Up Return
    DIALOG="$(window "^$1\$")"
    sleep 1
}
open_settings Settings
# An SNMP agent with its list, set by script as a user would.
cat >"$WORK/snmp.qmk" <<'QMK'
#set:mod_snmp.list=sys{#set:enable=1;#set:format=Description: [desc], up [up];#set:push=desc;#set:push=up;#set:oid|desc=.1.3.6.1.2.1.1.1.0;#set:oid|up=.1.3.6.1.2.1.1.3.0}
#set:mod_snmp=192.0.2.50{#set:reset=1;#set:en=1;#set:list=sys}
QMK
"$ROOT/build/quillmark" -script "$WORK/snmp.qmk" >"$WORK/snmp.log" 2>&1 || cat "$WORK/snmp.log" >&2
# Pages in their order from the first; a click on the first gives the page
# list the focus back from a table chosen in the shot before.
shoot_page() {  # index file [x y of a row to choose [wheel steps down]]
    xdotool mousemove --window "$DIALOG" 60 18 click 1
    sleep 0.3
    xdotool key Home
    sleep 0.3
    for _ in $(seq "$1"); do xdotool key Down; sleep 0.2; done
    sleep 1
    [ $# -lt 4 ] || { xdotool mousemove --window "$DIALOG" "$3" "$4" click 1; sleep 1; }
    [ $# -lt 5 ] || { xdotool mousemove --window "$DIALOG" 950 300 click --repeat "$5" 5; sleep 1; }
    xdotool windowraise "$DIALOG"
    sleep 0.5
    import -window "$DIALOG" "$OUT/$2"
    echo "wrote docs/screenshots/$2"
}
shoot_page 10 settings-english.png
shoot_page 7 settings-collector-en.png
shoot_page 1 settings-rules-en.png
shoot_page 9 settings-snmp-en.png
# The home's ping graph, chosen: its own settings below the table.
shoot_page 12 settings-graphs-en.png 420 121
# The Syslog window, chosen: its event types, options and rules below.
shoot_page 3 settings-windows-en.png 420 100 20

kill -TERM "$PID" && wait "$PID" || true
PID=""
start RU
open_settings "Настройки"
shoot_page 3 settings-windows.png 420 100 20
