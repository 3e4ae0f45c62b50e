#!/usr/bin/env bash
# Draws the program's icon set again into resources/default-home/Resource/Icons
# (the files a new home starts with; the program draws the same pictures for
# any number a home's icon folder lacks).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/scripts/lib/deps.sh"

ensure_packages "${BUILD_PACKAGES[@]}"
build_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$ROOT/build/write_icons" "$ROOT/resources/default-home/Resource/Icons"
