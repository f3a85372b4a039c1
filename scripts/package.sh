#!/usr/bin/env bash
# Makes the release: the 64-bit and the 32-bit program, built for Release,
# each packed with the example templates, the user guide and a README.txt
# into dist/Arkivanto2-VERSION-win64.zip and dist/Arkivanto2-VERSION-win32.zip.
#
#   bash scripts/package.sh                    builds both programs and packs them
#   bash scripts/package.sh --pack EXE ZIP     packs a program already built
#                                              (the release test packs the test build)
set -euo pipefail
if [ "${1:-}" = --pack ]; then
  [ $# -eq 3 ] || { echo "usage: $0 --pack EXE ZIP" >&2; exit 2; }
  set -- --pack "$(realpath -m "$2")" "$(realpath -m "$3")"
fi
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Arkivanto2 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "no project() version in CMakeLists.txt" >&2; exit 1; }

# One folder, Arkivanto2\, holding the program, its template folder beside
# it (where the program looks), README.txt and every file of docs/, the user
# guide, when that folder exists. Written aside and moved into place.
pack() {
  python3 - "$1" "$2" "$version" <<'PYTHON'
import os, sys, time, zipfile

program, archive, version = sys.argv[1:4]
top = "Arkivanto2/"
readme = f"""Arkivanto2 {version}

Arkivanto2 backs up the settings of your Windows programs: the files and
registry keys that each template in the "template" folder names. It copies
the files, saves the registry keys as .reg files and writes Restore.bat,
which puts everything back on this or another computer.

Starting it: unpack this archive into a folder of your choice, for example
your Documents folder, and run Arkivanto2.exe there. Nothing is installed;
the program keeps the "template" folder beside it, so keep the two together.
Tick the templates to back up, choose a destination folder and start the
backup. The files in the "docs" folder, where present, are the user guide.

To remove the program, delete its folder.
"""
entries = [(program, "Arkivanto2.exe")]
for folder, inside in (("resources/templates", "template/"), ("docs", "docs/")):
    for root, _, files in os.walk(folder):
        for name in sorted(files):
            path = os.path.join(root, name)
            entries.append((path, inside + os.path.relpath(path, folder).replace(os.sep, "/")))

os.makedirs(os.path.dirname(os.path.abspath(archive)), exist_ok=True)
temporary = archive + ".tmp"
with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for path, name in entries:
        z.write(path, top + name)
    # Notepad before Windows 10 version 1809 breaks lines only at CR LF.
    z.writestr(zipfile.ZipInfo(top + "README.txt", time.localtime()[:6]), readme.replace("\n", "\r\n"),
               zipfile.ZIP_DEFLATED)
os.replace(temporary, archive)
print(archive)
PYTHON
}

if [ "${1:-}" = --pack ]; then
  pack "$2" "$3"
  exit
fi

bash scripts/setup.sh
for target in win64:x86_64 win32:i686; do
  name=${target%%:*}
  build=build/release-$name
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-${target#*:}.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j "$(nproc)" --target Arkivanto2
  # Without its symbol tables the program is half the download.
  "${target#*:}-w64-mingw32-strip" -o "$build/Arkivanto2-stripped.exe" "$build/Arkivanto2.exe"
  pack "$build/Arkivanto2-stripped.exe" "dist/Arkivanto2-$version-$name.zip"
done
