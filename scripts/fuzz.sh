#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer and the address and
# undefined-behaviour sanitizers, then runs each for the given number of
# seconds (default 30) from the seed corpus in tests/fuzz/corpus. New inputs
# land in the build folder, never in the tree; a crash stops the script with
# the crashing input saved beside the build.
set -euo pipefail
seconds="${1:-30}"
# A fixed seed (QUILLORA_FUZZ_SEED) makes a run repeat the same inputs, so the
# test run cannot fail by chance; a slower machine only stops earlier in the
# same sequence.
seed=()
[ -n "${QUILLORA_FUZZ_SEED:-}" ] && seed=(-seed="$QUILLORA_FUZZ_SEED")
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLORA_FUZZ_BUILD_DIR:-$root/build-fuzz}"

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLORA_BUILD_FUZZERS=ON -DQUILLORA_BUILD_GUI=OFF -DQUILLORA_BUILD_TESTS=OFF -DQUILLORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build"

for target in sqlparser registryhive importreader importsplit tableloader; do
  corpus="$build/corpus/$target"
  artifacts="$build/crashes/$target/"
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzz_$target for ${seconds}s"
  "$build/bin/fuzz_$target" -max_total_time="$seconds" "${seed[@]}" -print_final_stats=1 -max_len=4096 \
    -artifact_prefix="$artifacts" "$corpus" "$root/tests/fuzz/corpus/$target"
done
