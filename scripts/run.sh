#!/usr/bin/env bash
# Builds the program and starts it under wine, in out/Arkivanto2 with its
# template folder and its user guides. Without a display it runs on a
# private Xvfb server with a window manager, and says how to look at it.
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
mkdir -p out/Arkivanto2/docs
cp docs/*.txt out/Arkivanto2/docs/
export ARK_PREFIX="$PWD/out/wineprefix"
export ARK_WINDOW_MANAGER=1
source scripts/wine-env.sh
if [ -n "$ARK_XVFB_PID" ]; then
  echo "Arkivanto2 runs on the private display $DISPLAY. To look at it:" >&2
  echo "  DISPLAY=$DISPLAY import -window root shot.png" >&2
fi
wine out/Arkivanto2/Arkivanto2.exe "$@"
