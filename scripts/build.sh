#!/usr/bin/env bash
# Configures and builds everything into build/ (or $QUILLORA_BUILD_DIR), to be
# installed below /usr. Optimised without debug information, as users get it:
# that also keeps the test run's builds short. For a build to debug, configure
# a folder of your own with CMAKE_BUILD_TYPE=Debug.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build" "$@"
