#!/usr/bin/env bash
# Builds everything and runs every test: the Windows build under wine, the
# 32-bit build (compiled and linked only) and the player engine natively.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j "$jobs"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build/win32 -j "$jobs"

bash scripts/player-native.sh
bash scripts/fuzz.sh "${ARK_FUZZ_SECONDS:-30}"

# The artwork generator and the example templates' checker, in a second.
python3 -m unittest discover -s tools -p 'test_*.py'

source scripts/wine-env.sh
# The last line of this run is CTest's own summary.
ctest --test-dir build/win64 --output-on-failure -j 2 "$@"
