#!/usr/bin/env bash
# Configures and builds. build.sh [release|test] [extra cmake args...]
#   release: optimised, into build/release (the tool and the benchmarks)
#   test:    AddressSanitizer + UndefinedBehaviorSanitizer, into build/test (no benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:-release}
shift || true
case "$kind" in
  release) dir=build/release; args=(-DCMAKE_BUILD_TYPE=Release -DJRX_SANITIZE=OFF -DJRX_BENCH=ON) ;;
  test) dir=build/test; args=(-DCMAKE_BUILD_TYPE=Debug -DJRX_SANITIZE=ON -DJRX_BENCH=OFF) ;;
  *) echo "usage: build.sh [release|test]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${args[@]}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
