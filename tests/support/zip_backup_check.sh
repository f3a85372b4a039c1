#!/bin/sh
# The middle of the ZIP backup chain: the archive the program made passes
# unzip's test, holds what a backup holds, and is extracted for the restore.
set -e
folder=$1
unzip -tq "$folder/backup.zip"
python3 - "$folder/backup.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    names = set(z.namelist())
    wanted = {"Restore.bat", "log.txt", "Zipped/0/a.ini", "Zipped/0/sub/b.ini"}
    missing = wanted - names
    if missing:
        sys.exit(f"missing from the archive: {sorted(missing)}; it holds {sorted(names)}")
    if z.read("Zipped/0/a.ini") != b"alpha":
        sys.exit("Zipped/0/a.ini holds other bytes")
PY
rm -rf "$folder/extracted"
unzip -q "$folder/backup.zip" -d "$folder/extracted"
