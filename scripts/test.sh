#!/usr/bin/env bash
# Builds everything and runs every test (windows offscreen).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j2
