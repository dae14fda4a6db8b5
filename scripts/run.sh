#!/usr/bin/env bash
# Builds the program, writes the sample disc into build/disc and starts the
# program from there, as a reader would start it from the cover disc. The very
# first start installs the engine and ends; the program is then started again.
# Pass --hd to start it under its hard-disk name (quillorahd). Needs only the
# packages to build and run the program (scripts/deps/run.txt).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
program=quillora
[ "${1:-}" = "--hd" ] && program=quillorahd

"$root/scripts/build.sh" --target sample-disc
hive="${XDG_CONFIG_HOME:-$HOME/.config}/Vortagon/registry.reg"
engine_registered() { [ -f "$hive" ] && grep -qi '"Engine-Version"' "$hive"; }

cd "$build/disc"
if engine_registered; then
  exec "./$program"
fi
"./$program" || true
# The installer tells the reader to start Quillora again; wait until its
# message is closed, as a reader would.
while pgrep -f "$build/disc/QLEngine/Setup.exe" >/dev/null; do sleep 0.5; done
if engine_registered; then
  exec "./$program"
fi
