#!/usr/bin/env bash
# The test run (CI runs it through .ci/run), on a build configured for it in
# build/ (or $QUILLORA_BUILD_DIR) and two folders beside it:
#  1. builds everything, warnings as errors, and runs every test: windows
#     offscreen, text drawn only in the fonts the program depends on;
#  2. makes the Debian package and checks it (as root also installs it,
#     starts it and removes it again);
#  3. beside 2., builds the parsers of outside input for libFuzzer with the
#     address and undefined-behaviour sanitizers and replays each one's corpus
#     (build-fuzz-replay, scripts/fuzz.sh --replay);
#  4. builds the cores (tables, engine, statistics computation) and their
#     tests without Qt, which shows they need none, with ThreadSanitizer, and
#     runs the tests that use threads (build-tsan).
# Installs what is missing of the packages for all of that when run as root.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh" run test package fuzz

step() { echo "== $* ($(date +%T))"; }
step "build and tests"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DQUILLORA_BUILD_TESTS=ON -DQUILLORA_BUILD_BENCH=ON -DQUILLORA_WERROR=ON >/dev/null
cmake --build "$build"
# Three at a time: most window tests wait on their event loops.
(cd "$build" && ctest --output-on-failure --timeout 600 -j3)

# The package test keeps the processors busy only in part (packing,
# installing, one start of the program): the fuzz tree builds and replays
# beside it, into a log shown once both are done.
step "Debian package, and beside it the fuzz corpora"
fuzzlog="$(mktemp)"
trap 'rm -f "$fuzzlog"' EXIT
QUILLORA_WERROR=ON QUILLORA_FUZZ_BUILD_DIR="$build-fuzz-replay" "$root/scripts/fuzz.sh" --replay >"$fuzzlog" 2>&1 &
fuzz=$!
package=0
"$root/tests/install/package_test.sh" "$build" || package=$?
fuzzing=0
wait "$fuzz" || fuzzing=$?
step "fuzz corpora"
cat "$fuzzlog"
[ "$package" -eq 0 ] || { echo "FAILED: the Debian package" >&2; exit 1; }
[ "$fuzzing" -eq 0 ] || { echo "FAILED: the fuzz corpora" >&2; exit 1; }

step "cores without Qt, under ThreadSanitizer"
cmake -S "$root" -B "$build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLORA_BUILD_GUI=OFF \
  -DQUILLORA_BUILD_BENCH=OFF -DQUILLORA_SANITIZE=thread -DQUILLORA_WERROR=ON >/dev/null
cmake --build "$build-tsan"
(cd "$build-tsan" && ctest --output-on-failure --timeout 600 -j2)
step "all passed"
