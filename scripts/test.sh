#!/usr/bin/env bash
# Builds Quillmark and runs the whole test suite; non-zero on any failure.
# Set QM_SKIP_SANITIZE=1 to skip the AddressSanitizer/UBSan pass.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
JOBS="$(nproc)"
# The cases mostly wait (on peers, time-outs, slow readers): at one case a
# core, both passes kept the cores busy less than a fifth of the time. Twice
# as many at once still leaves them idle most of it and halves the wait.
TEST_JOBS=$((JOBS * 2 > 8 ? 8 : JOBS * 2))
SANITIZE=1
[ "${QM_SKIP_SANITIZE:-0}" = "1" ] && SANITIZE=0

# The cases on a real X server (label display) run in one pass: the
# sanitizer pass, where the code only a display reaches (the tray icon, open
# menus, a display that goes away) is also checked for memory errors and
# leaks. Run in the normal pass as well they would check the same behaviour
# again without that; they run there only when the sanitizer pass is skipped.
NORMAL_SELECTION=()
[ "$SANITIZE" = "1" ] && NORMAL_SELECTION=(-LE display)

ASAN_TARGETS=(quillmark platform_tests core_tests module_tests windows_tests)
echo "== build and test" >&2
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The normal pass's cases mostly wait, so the sanitizer tree (only what its
# tests run: the benchmarks and tools were built and checked above) builds
# beside them at the lowest priority, which the cases hardly notice; its
# output is shown after them.
ASAN_BUILD=""
if [ "$SANITIZE" = "1" ]; then
    ASAN_LOG="$(mktemp)"
    set -m  # its own process group, so that a failure here stops all of it
    (
        renice -n 19 "$BASHPID" >/dev/null
        build_tree build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -- "${ASAN_TARGETS[@]}"
    ) >"$ASAN_LOG" 2>&1 &
    ASAN_BUILD=$!
    set +m
    trap 'kill -- -"$ASAN_BUILD" 2>/dev/null || true; rm -f "$ASAN_LOG"' EXIT
fi
(cd "$ROOT/build" && ctest --output-on-failure -j"$TEST_JOBS" "${NORMAL_SELECTION[@]}")

if [ "$SANITIZE" = "1" ]; then
    echo "== build and test under AddressSanitizer/UBSan" >&2
    ASAN_STATUS=0
    wait "$ASAN_BUILD" || ASAN_STATUS=$?
    cat "$ASAN_LOG"
    [ "$ASAN_STATUS" = 0 ] || { echo "the sanitizer build failed" >&2; exit "$ASAN_STATUS"; }
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
    (cd "$ROOT/build-asan" && ctest --output-on-failure -j"$TEST_JOBS" -LE wayland)
fi
echo "All tests passed." >&2
