#!/usr/bin/env bash
# Rebuilds resources/toolbar.bmp, resources/arkivanto2.ico and the entry kinds'
# icons from the pictures in tools/artwork; files that would not change are
# left alone. With --preview DIR it also writes enlarged PNG pictures of every
# image on the toolbar's grey into DIR (needs ImageMagick's convert).
set -euo pipefail
cd "$(dirname "$0")/.."
python3 tools/make_artwork.py resources
if [ "${1:-}" = --preview ]; then
  dir=${2:?--preview needs a folder}
  mkdir -p "$dir"
  for f in resources/toolbar.bmp resources/arkivanto2.ico resources/kind_*.ico; do
    name=$(basename "${f%.*}")
    # One PNG per image of the file: name-0.png, name-1.png, ...
    convert "$f" -transparent '#ff00ff' -background '#c0c0c0' -alpha remove -scale 800% "$dir/$name-%d.png"
  done
  echo "previews in $dir"
fi
