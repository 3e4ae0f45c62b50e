#!/usr/bin/env bash
# Builds Quillmark and runs it on the home folder ./run-home (made on first use).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
# Only the program: the tests and benchmarks are built by their own scripts.
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo -- quillmark

HOME_DIR="${QUILLMARK_HOME:-$ROOT/run-home}"
# A new home (no folder, or an empty one such as mktemp -d makes) starts
# from the shipped defaults; the program fills in the rest.
if [ ! -d "$HOME_DIR" ] || [ -z "$(ls -A "$HOME_DIR")" ]; then
    mkdir -p "$HOME_DIR"
    if [ -d "$ROOT/resources/default-home" ]; then
        cp -R "$ROOT/resources/default-home/." "$HOME_DIR/"
    fi
fi

export QUILLMARK_HOME="$HOME_DIR"
exec "$ROOT/build/quillmark" "$@"
