#!/usr/bin/env bash
# Builds the Windows programs and runs the two benchmarks of the backup
# operations under wine: the registry export against "regedit /e" and the file
# copy against xcopy. Prints their lines; nothing is checked. Not part of CI.
# ARK_BENCH_ONLY=registry or ARK_BENCH_ONLY=files runs just one of them. Each
# program takes smaller sizes on its command line for a quick look (see the
# top of its source in bench/).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j 2 --target registry_export_bench file_copy_bench

source scripts/wine-env.sh
echo "temporary folder: $(df -h /tmp | tail -1)"
if [ "${ARK_BENCH_ONLY:-registry}" = registry ]; then
  wine build/win64/bench/registry_export_bench.exe
fi
if [ "${ARK_BENCH_ONLY:-files}" = files ]; then
  wine build/win64/bench/file_copy_bench.exe
fi
