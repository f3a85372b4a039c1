#!/usr/bin/env bash
# Builds the program and starts it under wine, in out/Arkivanto2 with its
# template folder. Without a display it runs on a private Xvfb server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j "$(nproc)" --target Arkivanto2
mkdir -p out/Arkivanto2/template
cp build/win64/Arkivanto2.exe out/Arkivanto2/
if [ -d resources/templates ]; then
  cp -n resources/templates/*.txt out/Arkivanto2/template/ 2>/dev/null || true
fi
export ARK_PREFIX="$PWD/out/wineprefix"
source scripts/wine-env.sh
wine out/Arkivanto2/Arkivanto2.exe "$@"
