#!/usr/bin/env bash
# Builds the Windows programs and runs the two benchmarks of the backup
# operations under wine: the registry export against "regedit /e" and the file
# copy against xcopy. Prints their lines; nothing is checked. Not part of CI.
# ARK_BENCH_ONLY=registry or ARK_BENCH_ONLY=files runs just one of them. Each
# program takes smaller sizes on its command line for a quick look (see the
# top of its source in bench/).
#
# Without a window manager (plain Xvfb) wine waits about 2 s for one to
# acknowledge every destroyed top-level window, the progress window of each
# operation included. ARK_BENCH_UNMANAGED=1 hands no window to a window
# manager, which takes that wait out; the default is the environment the tests
# run in.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j 2 --target registry_export_bench file_copy_bench

# The file copy keeps its source tree and one copy (about 300 MB each) at
# once in wine's temporary folder, inside the prefix below /tmp.
free_kb=$(df -Pk /tmp | awk 'NR == 2 { print $4 }')
if [ "$free_kb" -lt $((1024 * 1024)) ]; then
  echo "bench: less than 1 GB free below /tmp" >&2
  exit 1
fi

source scripts/wine-env.sh
if [ "${ARK_BENCH_UNMANAGED:-0}" = 1 ]; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  echo "windows not managed (ARK_BENCH_UNMANAGED=1)"
fi
if [ "${ARK_BENCH_ONLY:-registry}" = registry ]; then
  wine build/win64/bench/registry_export_bench.exe
fi
if [ "${ARK_BENCH_ONLY:-files}" = files ]; then
  wine build/win64/bench/file_copy_bench.exe
fi
