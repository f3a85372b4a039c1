#!/usr/bin/env bash
# Times 60 s of 44100 Hz stereo from every .xm module of Debian's
# bomberclone-data and ri-li-data packages: the player's Release benchmark
# against openmpt123 with linear interpolation (--filter 2), each a whole
# process (start, load, render), run alternately, median of 3. Prints per
# module: name, our time, openmpt123 time and their ratio. Nothing is
# asserted. The packages go to build/bench-data, never into the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench-player
data=$root/build/bench-data
seconds=60

if ! command -v openmpt123 >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends openmpt123
fi

mkdir -p "$data"
for package in bomberclone-data ri-li-data; do
  if ! ls "$data/$package"_*.deb >/dev/null 2>&1; then
    (cd "$data" && apt-get download -q "$package")
  fi
  if [ ! -e "$data/$package.extracted" ]; then
    dpkg-deb -x "$(ls "$data/$package"_*.deb | head -n 1)" "$data/files"
    touch "$data/$package.extracted"
  fi
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target xm_bench >/dev/null

# Seconds of wall time the command takes, its output discarded.
wall() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }'
}

median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

printf '%-36s %9s %11s %7s\n' module ours openmpt123 ratio
find "$data/files" -iname '*.xm' -print0 | sort -z | while IFS= read -r -d '' module; do
  ours=() theirs=()
  for _ in 1 2 3; do
    ours+=("$(wall "$build/xm_bench" "$module" "$seconds")")
    theirs+=("$(wall openmpt123 --quiet --batch --stdout --samplerate 44100 --channels 2 --no-float \
      --filter 2 --repeat -1 --end-time "$seconds" -- "$module")")
  done
  a=$(median "${ours[@]}")
  b=$(median "${theirs[@]}")
  awk -v n="$(basename "$module")" -v a="$a" -v b="$b" \
    'BEGIN { printf "%-36s %8.3fs %10.3fs %6.2fx\n", n, a, b, b / a }'
done
