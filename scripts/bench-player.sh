#!/usr/bin/env bash
# Times 60 s of 44100 Hz stereo from every .xm module of Debian's
# bomberclone-data and ri-li-data packages: the player's Release benchmark
# against openmpt123 with linear interpolation (--filter 2), each a whole
# process (start, load, render), run alternately, median of 3. Prints per
# module: name, our wall time, openmpt123's and their ratio, then the same
# for CPU time. Nothing is asserted. The packages go to build/bench-data,
# never into the tree.
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

# Wall and CPU seconds (user + system, the child's own) the command takes,
# its output discarded. On a machine others share, the wall time of a short
# process swings with their load; its CPU time hardly does.
timed() {
  python3 -c '
import os, sys, time
start = time.perf_counter()
pid = os.posix_spawnp(sys.argv[1], sys.argv[1:], os.environ,
                      file_actions=[(os.POSIX_SPAWN_OPEN, 1, "/dev/null", os.O_WRONLY, 0)])
_, status, usage = os.wait4(pid, 0)
wall = time.perf_counter() - start
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit("%s failed" % sys.argv[1])
print("%.4f %.4f" % (wall, usage.ru_utime + usage.ru_stime))
' "$@"
}

median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

printf '%-32s %8s %10s %6s   %8s %10s %6s\n' module ours openmpt123 ratio 'ours cpu' 'openmpt123' ratio
find "$data/files" -iname '*.xm' -print0 | sort -z | while IFS= read -r -d '' module; do
  ours=() theirs=() oursCpu=() theirsCpu=()
  for _ in 1 2 3; do
    read -r wall cpu < <(timed "$build/xm_bench" "$module" "$seconds")
    ours+=("$wall") oursCpu+=("$cpu")
    read -r wall cpu < <(timed openmpt123 --quiet --batch --stdout --samplerate 44100 --channels 2 --no-float \
      --filter 2 --repeat -1 --end-time "$seconds" -- "$module")
    theirs+=("$wall") theirsCpu+=("$cpu")
  done
  awk -v n="$(basename "$module")" -v a="$(median "${ours[@]}")" -v b="$(median "${theirs[@]}")" \
    -v c="$(median "${oursCpu[@]}")" -v d="$(median "${theirsCpu[@]}")" \
    'BEGIN { printf "%-32s %7.3fs %9.3fs %5.2fx   %7.3fs %9.3fs %5.2fx\n", n, a, b, b / a, c, d, d / c }'
done
