#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang with ASan and UBSan) into
# build-fuzz/ and runs each for a while; not part of test.sh.
#
#   scripts/fuzz.sh                 every target, 60 s each
#   scripts/fuzz.sh fuzz_settings   one target
#   QM_FUZZ_SECONDS=600 scripts/fuzz.sh
#   scripts/fuzz.sh -l              list the targets
#
# Each target starts from its seeds in fuzz/corpus/<target>/ and grows a
# working corpus in build-fuzz/corpus/<target>/ (the seeds in the tree are
# left as they are). A crash, hang, out-of-memory or sanitizer report is
# saved under build-fuzz/artifacts/<target>/ and makes the script fail;
# replay it with build-fuzz/fuzz/<target> <file>.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

TARGETS=(fuzz_line_scanner fuzz_settings fuzz_log_reload fuzz_http_request fuzz_http_ini fuzz_expression fuzz_script fuzz_syslog_framer fuzz_syslog_header fuzz_relay_backlog)
if [ "${1:-}" = "-l" ]; then
    printf '%s\n' "${TARGETS[@]}"
    exit 0
fi
if [ $# -gt 0 ]; then
    case " ${TARGETS[*]} " in
        *" $1 "*) TARGETS=("$1") ;;
        *) echo "Unknown target '$1'; known: ${TARGETS[*]}" >&2; exit 2 ;;
    esac
fi
SECONDS_EACH="${QM_FUZZ_SECONDS:-60}"

ensure_packages "${FUZZ_PACKAGES[@]}"

BUILD="$ROOT/build-fuzz"
echo "== building the fuzz targets into build-fuzz/" >&2
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DQM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
cmake --build "$BUILD" --target "${TARGETS[@]}" -- -j"$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=()
for target in "${TARGETS[@]}"; do
    corpus="$BUILD/corpus/$target"
    artifacts="$BUILD/artifacts/$target"
    mkdir -p "$corpus" "$artifacts"
    echo "== $target for ${SECONDS_EACH} s" >&2
    if ! "$BUILD/fuzz/$target" -max_total_time="$SECONDS_EACH" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$ROOT/fuzz/corpus/$target"; then
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Findings in: ${failed[*]} (see build-fuzz/artifacts/)" >&2
    exit 1
fi
echo "No findings." >&2
