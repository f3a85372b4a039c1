#!/usr/bin/env bash
# Runs every libFuzzer target for SECONDS each (default 30) under the
# sanitizers: the XM loader and replayer (seeded with modules from the XM
# writer), template lines and their restore-script echo, REGEDIT4 value
# lines. Exits non-zero on a crash, a sanitizer report, a broken invariant or
# a hang; the input that caused it is left in build/fuzz/.
set -euo pipefail
seconds=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 --target xm_fuzz xm_fuzz_seeds template_fuzz reg_value_fuzz

run() {
  local target=$1 corpus=$build/corpus_$1
  shift
  rm -rf "$corpus"
  mkdir -p "$corpus"
  "$build/$target" "$corpus" "$@" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$build/$target-" -print_final_stats=1
}

rm -rf "$build/seeds"
mkdir -p "$build/seeds"
"$build/xm_fuzz_seeds" "$build/seeds"
run xm_fuzz "$build/seeds" -max_len=16384
run template_fuzz -max_len=4096
run reg_value_fuzz -max_len=4096
