#!/usr/bin/env bash
# Builds the Windows programs and runs the benchmarks under wine: the registry
# export against "regedit /e", the file copy against xcopy, and whole backup
# runs from the main window at two sizes, against regedit and xcopy where they
# do the same work. Prints their lines; nothing is checked. Not part of CI.
# ARK_BENCH_ONLY=registry, files or run runs just one of them;
# ARK_BENCH_RUNS="registry files" runs only those of the backup runs (list,
# templates, registry, files, empty, comments). The first two
# programs take smaller sizes on their command line for a quick look (see the
# top of their source in bench/).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j 2 --target registry_export_bench file_copy_bench backup_run_bench

# The file copy keeps its source tree and one copy (about 300 MB each) at
# once in wine's temporary folder, inside the prefix below /tmp.
free_kb=$(df -Pk /tmp | awk 'NR == 2 { print $4 }')
if [ "$free_kb" -lt $((1024 * 1024)) ]; then
  echo "bench: less than 1 GB free below /tmp" >&2
  exit 1
fi

source scripts/wine-env.sh
if [ "${ARK_BENCH_ONLY:-registry}" = registry ]; then
  wine build/win64/bench/registry_export_bench.exe
fi
if [ "${ARK_BENCH_ONLY:-files}" = files ]; then
  wine build/win64/bench/file_copy_bench.exe
fi
if [ "${ARK_BENCH_ONLY:-run}" = run ]; then
  # shellcheck disable=SC2086 # one word a name
  wine build/win64/bench/backup_run_bench.exe ${ARK_BENCH_RUNS:-}
fi
