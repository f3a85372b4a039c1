#!/usr/bin/env bash
# Writes resources/tune.xm from tools/tune/score.txt with the native build of
# the tune generator. --preview DIR also renders the module with the player
# engine into DIR/tune.wav and prints sox's statistics of it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/native
cmake -S "$root" -B "$build" -G Ninja >/dev/null
if ! log=$(cmake --build "$build" -j2 --target make_tune 2>&1); then
  echo "$log" >&2
  exit 1
fi
if [ "${1:-}" = "--preview" ]; then
  mkdir -p "$2"
  "$build/make_tune" "$root/tools/tune/score.txt" "$root/resources/tune.xm" --wav "$2/tune.wav" --seconds 25
  sox "$2/tune.wav" -n stats
else
  "$build/make_tune" "$root/tools/tune/score.txt" "$root/resources/tune.xm"
fi
