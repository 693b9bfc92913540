#!/usr/bin/env bash
# Configures and builds. build.sh [release|test|tool] [extra cmake args...]
#   release: optimised, into build/release (the tool, the libraries and the benchmarks)
#   test:    AddressSanitizer + UndefinedBehaviorSanitizer, into build/test (no benchmarks)
#   tool:    optimised, into build/release, only the tool and its libraries (the demo)
#   fuzz:    clang with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, into
#            build/fuzz, only the fuzzing harnesses and what they use
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
shift || true
target=()
case "$kind" in
  release) dir=build/release; args=(-DCMAKE_BUILD_TYPE=Release -DJRX_SANITIZE=OFF -DJRX_BENCH=ON -DJRX_TESTS=ON) ;;
  test) dir=build/test; args=(-DCMAKE_BUILD_TYPE=Debug -DJRX_SANITIZE=ON -DJRX_BENCH=OFF -DJRX_TESTS=ON) ;;
  tool) dir=build/release; args=(-DCMAKE_BUILD_TYPE=Release -DJRX_SANITIZE=OFF -DJRX_BENCH=OFF -DJRX_TESTS=OFF)
        target=(--target jrxlog) ;;
  fuzz) dir=build/fuzz
        args=(-DCMAKE_BUILD_TYPE=Debug -DJRX_SANITIZE=ON -DJRX_FUZZ=ON -DJRX_BENCH=OFF
              -DJRX_TESTS=OFF -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14)
        target=(--target fuzz_all) ;;
  *) echo "usage: build.sh [release|test|tool|fuzz]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${args[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${target[@]}"
