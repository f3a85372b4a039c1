#!/usr/bin/env bash
# Fuzzes the module loader and the replayer with libFuzzer for SECONDS
# (default 60), starting from modules written by the XM writer. Exits
# non-zero on a crash, a sanitizer report or a hang; the input that caused it
# is left in build/fuzz/.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 --target xm_fuzz xm_fuzz_seeds

rm -rf "$build/seeds" "$build/corpus"
mkdir -p "$build/seeds" "$build/corpus"
"$build/xm_fuzz_seeds" "$build/seeds"
"$build/xm_fuzz" "$build/corpus" "$build/seeds" -max_total_time="$seconds" -timeout=20 \
  -max_len=16384 -rss_limit_mb=2048 -artifact_prefix="$build/" -print_final_stats=1
