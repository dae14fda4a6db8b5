#!/usr/bin/env bash
# Configures and builds into build/ (or $QUILLORA_BUILD_DIR), to be installed
# below /usr. Optimised without debug information, as users get it. A fresh
# folder is configured for the program and its tools only, which needs no
# more than the packages to build and run it; a folder configured before keeps
# its options (scripts/test.sh turns on the tests and the benchmarks). For a
# build to debug, configure a folder of your own with CMAKE_BUILD_TYPE=Debug.
# Arguments go to `cmake --build` (e.g. --target sample-disc).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" run
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUILLORA_BUILD_TESTS=OFF -DQUILLORA_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" "$@"
