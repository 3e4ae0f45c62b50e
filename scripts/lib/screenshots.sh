# What the scripts that take the README's pictures share: the display they
# run on, a folder of their own that goes with them, and settings values in
# the settings file's struct form. Sourced after scripts/lib/deps.sh.

# Runs the calling script again under Xvfb once the program is built and the
# packages the pictures need (SHOT_PACKAGES, beside the build's) are there:
#     SHOT_PACKAGES=(bsdutils); screenshots_under_xvfb "$0" "$@"
# Returns at once inside Xvfb.
screenshots_under_xvfb() {
    [ -n "${QM_SCREENSHOTS_INNER:-}" ] && return 0
    ensure_packages "${BUILD_PACKAGES[@]}" xvfb xauth imagemagick xdotool "${SHOT_PACKAGES[@]}"
    build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    export QM_SCREENSHOTS_INNER=1
    exec xvfb-run -a -s "-screen 0 1280x900x24" "$@"
}

# WORK, a folder for the run, removed at exit together with the program
# (PID) and the peers (PEERS) still running: a shot that failed leaves them
# running, and they would hold the ports of the next run.
screenshots_work_folder() {
    WORK="$(mktemp -d)"
    PID=""
    PEERS=()
    trap screenshots_cleanup EXIT
}
screenshots_cleanup() {
    [ -n "$PID" ] && kill -TERM "$PID" 2>/dev/null && wait "$PID" 2>/dev/null
    for p in "${PEERS[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$WORK"
}

# Struct values as the settings file keeps them: each value's bytes (`n` a
# value, least significant first), then the sum of all of them.
#     struct_hex n value...
struct_hex() {
    local n="$1" out="" sum=0 v b i
    shift
    for v in "$@"; do
        for ((i = 0; i < n; i++)); do b=$(((v >> (8 * i)) & 255)); out+=$(printf '%02X' "$b"); sum=$((sum + b)); done
    done
    printf '%s%02X' "$out" $((sum & 255))
}
