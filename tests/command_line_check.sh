#!/bin/sh
# The command line of the built program, run under wine as a scheduled task
# or a script would run it, from a shell and from cmd: exit codes, the
# report on the output, the manifest read by sha256sum -c.
# Usage: command_line_check.sh PROGRAM FOLDER (FOLDER is made afresh).
set -u
program=$1
folder=$2
rm -rf "$folder"
mkdir -p "$folder/app/template" "$folder/source/sub"
cp "$program" "$folder/app/Arkivanto2.exe"
win() { winepath -w "$1"; }
printf 'alpha' >"$folder/source/a.txt"
printf 'beta' >"$folder/source/sub/b.txt"
# A name beyond either code page: the manifest carries it in UTF-8.
printf 'korean' >"$folder/source/한글.txt"
source=$(win "$folder/source")
printf 'Files\r\n\r\nFiles\r\nS:%s\\*.*\r\n' "$source" >"$folder/app/template/files.txt"
printf 'Broken\r\n\r\nBroken\r\nR:HKCU\\Software\\ArkivantoTests\\NoSuchKey\r\n' >"$folder/app/template/broken.txt"
printf 'not a folder' >"$folder/file"

failures=0
expect() {  # expect CODE WHAT COMMAND...
  code=$1 what=$2
  shift 2
  (cd "$folder/app" && "$@") >"$folder/out.txt" 2>/dev/null
  got=$?
  if [ "$got" != "$code" ]; then
    echo "FAIL: $what: exit code $got, expected $code"
    cat "$folder/out.txt"
    failures=$((failures + 1))
  fi
}
contains() {  # contains TEXT WHAT
  if ! grep -qF -- "$1" "$folder/out.txt"; then
    echo "FAIL: $2: the output lacks \"$1\""
    cat "$folder/out.txt"
    failures=$((failures + 1))
  fi
}

backup=$(win "$folder/backup")
expect 0 "usage" wine Arkivanto2.exe '/?'
contains "/verify" "usage"
expect 0 "a backup" wine Arkivanto2.exe /backup "$backup" /log files.txt
if ! (cd "$folder/backup" && LC_ALL=C.UTF-8 sha256sum --quiet -c manifest.sha256); then
  echo "FAIL: sha256sum -c manifest.sha256"
  failures=$((failures + 1))
fi
[ "$(wc -l <"$folder/backup/manifest.sha256")" = 5 ] || { echo "FAIL: manifest lines"; failures=$((failures + 1)); }
grep -q '  Files/0/한글.txt$' "$folder/backup/manifest.sha256" || { echo "FAIL: UTF-8 name"; failures=$((failures + 1)); }
expect 1 "a failed template" wine Arkivanto2.exe /backup "$backup" /append broken.txt
expect 2 "an unknown switch" wine Arkivanto2.exe /backup "$backup" /fast
expect 2 "an unknown command" wine Arkivanto2.exe /restore "$backup"
expect 2 "both /append and /overwrite" wine Arkivanto2.exe /backup "$backup" /append /overwrite
expect 2 "a missing template" wine Arkivanto2.exe /backup "$backup" missing.txt
contains "missing.txt" "a missing template"
expect 2 "a destination that cannot be made" wine Arkivanto2.exe /backup "$(win "$folder/file")\\inside" files.txt

# The toolbar's other options: a portable Restore.bat for a folder of the
# user's, and one ZIP archive instead of a folder.
appdata="$WINEPREFIX/drive_c/users/$(whoami)/AppData/Roaming/ArkivantoCli"
mkdir -p "$appdata" && printf 'cli' >"$appdata/c.txt"
printf 'Mine\r\n\r\nMine\r\nF:%%AppData%%\\ArkivantoCli\\*.txt\r\n' >"$folder/app/template/mine.txt"
expect 0 "a portable backup" wine Arkivanto2.exe /backup "$(win "$folder/portable")" /portable mine.txt
grep -qF 'IF DEFINED APPDATA xcopy "Mine\0\*.*" "%APPDATA%\ArkivantoCli\"' "$folder/portable/Restore.bat" ||
  { echo "FAIL: /portable"; failures=$((failures + 1)); }
expect 0 "a ZIP backup" wine Arkivanto2.exe /backup "$(win "$folder/out.zip")" /zip mine.txt
unzip -l "$folder/out.zip" 2>/dev/null | grep -q 'Mine/0/c.txt' || { echo "FAIL: /zip"; failures=$((failures + 1)); }
rm -rf "$appdata"

# A folder beyond ASCII, for the template and for the files it saves, comes
# back where it was: cmd reads Restore.bat in the console's code page, which
# differs from the system's on Western systems (437 beside 1252); Japanese
# names hold the trail byte 0x5C.
case "$LANG" in
  ja*) place='表ソ' ;;
  *) place='Déjà café' ;;
esac
mkdir -p "$folder/$place" && printf 'placed' >"$folder/$place/p.txt"
{ printf 'Placed\r\n\r\n%s\r\nF:%s\\*.txt\r\n' "$place" "$(win "$folder/$place")"; } |
  iconv -f UTF-8 -t "$(case "$LANG" in ja*) echo SHIFT_JIS ;; *) echo CP1252 ;; esac)" >"$folder/app/template/placed.txt"
expect 0 "a backup of a folder beyond ASCII" wine Arkivanto2.exe /backup "$(win "$folder/placed")" placed.txt
rm -rf "${folder:?}/$place"
expect 0 "its Restore.bat" sh -c "cd '$folder/placed' && wine cmd /c Restore.bat"
[ "$(cat "$folder/$place/p.txt" 2>/dev/null)" = placed ] || { echo "FAIL: restored beyond ASCII"; failures=$((failures + 1)); }

# The failed run rewrote Restore.bat and log.txt: the manifest follows.
expect 0 "verify" wine Arkivanto2.exe /verify "$backup"
printf 'x' >>"$folder/backup/Files/0/a.txt"
expect 1 "verify after a change" wine Arkivanto2.exe /verify "$backup"
contains "a.txt" "verify after a change"
grep -qF "a.txt" "$folder/backup/verify.txt" || { echo "FAIL: verify.txt"; failures=$((failures + 1)); }
expect 2 "verify without a manifest" wine Arkivanto2.exe /verify "$(win "$folder/source")"

# From cmd: the report on its console, the exit code through start /wait.
expect 1 "verify from cmd" wine cmd /c "start /wait Arkivanto2.exe /verify $backup"
expect 1 "preview from cmd, redirected" wine cmd /c "Arkivanto2.exe /preview $backup > report.txt"
grep -qF "Restore.bat" "$folder/app/report.txt" || { echo "FAIL: preview from cmd"; failures=$((failures + 1)); }

echo "$failures failed"
[ "$failures" = 0 ]
