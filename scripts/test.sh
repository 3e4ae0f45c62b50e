#!/usr/bin/env bash
# Builds Quillmark and runs the whole test suite; non-zero on any failure.
# Set QM_SKIP_SANITIZE=1 to skip the AddressSanitizer/UBSan pass.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
JOBS="$(nproc)"

echo "== build and test" >&2
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$ROOT/build" && ctest --output-on-failure -j"$JOBS")

if [ "${QM_SKIP_SANITIZE:-0}" != "1" ]; then
    echo "== build and test under AddressSanitizer/UBSan" >&2
    build_tree build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0"
    (cd "$ROOT/build-asan" && ctest --output-on-failure -j"$JOBS")
fi
echo "All tests passed." >&2
