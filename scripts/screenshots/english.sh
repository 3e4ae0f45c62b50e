#!/usr/bin/env bash
# Takes the README's English picture: the settings dialog of a new home,
# started once with -locale EN, on its ICMP page (the home's ping of
# 127.0.0.1). The real program under Xvfb, as scripts/screenshots.sh does.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

if [ -z "${QM_SCREENSHOTS_INNER:-}" ]; then
    ensure_packages "${BUILD_PACKAGES[@]}" xvfb xauth imagemagick xdotool
    build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    export QM_SCREENSHOTS_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$@"
fi

OUT="$ROOT/docs/screenshots"
WORK="$(mktemp -d)"
PID=""
cleanup() {
    [ -n "$PID" ] && kill -TERM "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
cp -R "$ROOT/resources/default-home/." "$WORK/"
export QUILLMARK_HOME="$WORK"
unset QT_QPA_PLATFORM

"$ROOT/build/quillmark" -locale EN >"$WORK/out.txt" 2>&1 &
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
# Without a tray the status note stays shown; its menu's third entry from
# the bottom is Settings.
NOTE="$(window '^Quillmark$')"
sleep 2
xdotool mousemove --window "$NOTE" 150 40 click 3
sleep 1
xdotool key Up Up Up Return
DIALOG="$(window '^Settings$')"
sleep 1
# The page list has the focus: ICMP is the tenth page.
for _ in $(seq 9); do xdotool key Down; sleep 0.2; done
sleep 1
xdotool windowraise "$DIALOG"
sleep 0.5
import -window "$DIALOG" "$OUT/settings-english.png"
echo "wrote docs/screenshots/settings-english.png"
