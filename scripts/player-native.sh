#!/usr/bin/env bash
# Builds the player engine natively with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer in build/native and runs its tests there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/native

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DARK_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target player_tests xm_bench
UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir "$build" --output-on-failure
