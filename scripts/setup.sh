#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  cmake ninja-build
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
  wine wine64
  xvfb xauth imagemagick x11-utils sox
  python3 unzip
  doctest-dev
  clang libclang-rt-14-dev
  # Metric-compatible stand-ins for the dialogs' fonts, Arial and MS P Gothic.
  fonts-ipafont-gothic fonts-liberation locales
  # Frames the run command's windows on its private display.
  openbox
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine takes its code page from the Unix locale: the Japanese tests need
# ja_JP.UTF-8 to exist.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
