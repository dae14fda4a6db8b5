#!/usr/bin/env bash
# The fuzz targets: the parsers of outside input under libFuzzer with the
# address and undefined-behaviour sanitizers, built with clang into
# build-fuzz/ (or $QUILLORA_FUZZ_BUILD_DIR).
#
#   fuzz.sh --replay   build unoptimised into build-fuzz-replay/ (or
#                      $QUILLORA_FUZZ_BUILD_DIR), and run each target once
#                      over its corpus in tests/fuzz/corpus (the test run
#                      does this)
#   fuzz.sh [SECONDS]  build, and explore with each target for SECONDS
#                      (default 30), starting from its corpus; new inputs land
#                      in build-fuzz/corpus, never in the tree, and a crash
#                      stops the script with the crashing input saved beside
#                      the build
#   fuzz.sh --merge    fold what the exploring found into tests/fuzz/corpus and
#                      minimise it (commit the result): the hand-made seeds,
#                      named by what they are, stay; of the inputs named by
#                      their hash, a smallest set that reaches all they reach
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
targets=(sqlparser registryhive importreader importsplit tableloader)
mode="${1:-30}"
# Replaying needs no speed; exploring does, so each keeps a tree of its own.
if [ "$mode" = --replay ]; then
  replay_only=ON
  build="${QUILLORA_FUZZ_BUILD_DIR:-$root/build-fuzz-replay}"
else
  replay_only=OFF
  build="${QUILLORA_FUZZ_BUILD_DIR:-$root/build-fuzz}"
fi

"$root/scripts/install-deps.sh" fuzz
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQUILLORA_BUILD_FUZZERS=ON -DQUILLORA_FUZZ_REPLAY_ONLY=$replay_only \
  -DQUILLORA_BUILD_GUI=OFF -DQUILLORA_BUILD_TESTS=OFF -DQUILLORA_BUILD_BENCH=OFF \
  ${QUILLORA_WERROR:+-DQUILLORA_WERROR=$QUILLORA_WERROR} >/dev/null
# Only the fuzzers: the libraries they need and nothing else of the tree.
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

case "$mode" in
--replay)
  cd "$build"
  exec ctest --output-on-failure --timeout 300 -j2
  ;;
--merge)
  for target in "${targets[@]}"; do
    corpus="$root/tests/fuzz/corpus/$target"
    fresh="$build/merged/$target"
    rm -rf "$fresh"
    mkdir -p "$fresh" "$build/corpus/$target"
    find "$corpus" -maxdepth 1 -type f -regextype posix-extended ! -regex '.*/[0-9a-f]{40}' -exec cp {} "$fresh" \;
    echo "== fuzz_$target: merging"
    "$build/bin/fuzz_$target" -set_cover_merge=1 -max_len=4096 "$fresh" "$corpus" "$build/corpus/$target" 2>"$build/merge-$target.log" ||
      { tail -n 20 "$build/merge-$target.log" >&2; exit 1; }
    rm -rf "$corpus"
    mv "$fresh" "$corpus"
    echo "   $(find "$corpus" -type f | wc -l) inputs, $(du -s --apparent-size -k "$corpus" | cut -f1) KB"
  done
  ;;
*)
  [[ "$mode" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS | --replay | --merge]" >&2; exit 2; }
  for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    artifacts="$build/crashes/$target/"
    mkdir -p "$corpus" "$artifacts"
    echo "== fuzz_$target for ${mode}s"
    "$build/bin/fuzz_$target" -max_total_time="$mode" -print_final_stats=1 -max_len=4096 \
      -artifact_prefix="$artifacts" "$corpus" "$root/tests/fuzz/corpus/$target"
  done
  echo "New inputs are in $build/corpus; '$0 --merge' keeps those worth keeping in tests/fuzz/corpus."
  ;;
esac
