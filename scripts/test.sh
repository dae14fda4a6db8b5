#!/usr/bin/env bash
# Builds everything and runs every test (windows offscreen); then makes the
# Debian package and checks it (as root also installs and removes it again);
# then fuzzes the parsers of outside input for 30 s each; last builds the
# cores (tables, engine, statistics computation) once more without Qt and
# runs their tests, which proves they stay free of it (the benchmarks were
# built with the rest already).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j2
"$root/tests/install/package_test.sh" "$build"

# The parsers of outside input under libFuzzer and the sanitizers, 30 s each
# (about two and a half minutes with the build), from a fresh corpus and a
# fixed seed, so every run tries the same inputs.
rm -rf "$build-fuzz/corpus"
QUILLORA_FUZZ_SEED=1 QUILLORA_FUZZ_BUILD_DIR="$build-fuzz" "$root/scripts/fuzz.sh" 30

core="$build-core"
cmake -S "$root" -B "$core" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_GUI=OFF -DQUILLORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$core"
cd "$core"
ctest --output-on-failure --timeout 600 -j2
