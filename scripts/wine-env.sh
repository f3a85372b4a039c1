# Sourced by the scripts that run the program or its tests: a throw-away wine
# prefix and, when there is no display, a private Xvfb server. Cleans up on exit.
# ARK_PREFIX names a prefix to keep instead (the run command keeps one);
# ARK_WINDOW_MANAGER puts a window manager on the private display.
ARK_RUN_DIR=$(mktemp -d /tmp/arkivanto.XXXXXX)
export WINEPREFIX="${ARK_PREFIX:-$ARK_RUN_DIR/prefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
ARK_XVFB_PID=
ARK_WM_PID=
if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    ARK_XVFB_PID=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break; sleep 0.1; done
fi
ark_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$ARK_WM_PID" ] && kill "$ARK_WM_PID" >/dev/null 2>&1 || true
  [ -n "$ARK_XVFB_PID" ] && kill "$ARK_XVFB_PID" >/dev/null 2>&1 || true
  rm -rf "$ARK_RUN_DIR"
}
trap ark_cleanup EXIT
wineboot -i >/dev/null 2>&1
# The dialogs ask for Arial and ＭＳ Ｐゴシック; without these wine draws them
# in fallback fonts of other widths. Liberation Sans and IPA P Gothic have
# the same metrics. regedit reads a UTF-16 file whatever the locale.
printf '\xff\xfe' >"$ARK_RUN_DIR/fonts.reg"
iconv -f UTF-8 -t UTF-16LE >>"$ARK_RUN_DIR/fonts.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Arial"="Liberation Sans"
"ＭＳ Ｐゴシック"="IPAPGothic"
"MS PGothic"="IPAPGothic"
REG
wine regedit /s "$(winepath -w "$ARK_RUN_DIR/fonts.reg")" >/dev/null 2>&1
if [ -n "$ARK_XVFB_PID" ] && [ -n "${ARK_WINDOW_MANAGER:-}" ]; then
  # The run command's private display gets a window manager, which gives
  # the windows their frames.
  openbox --sm-disable >/dev/null 2>&1 &
  ARK_WM_PID=$!
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1
elif [ -n "$ARK_XVFB_PID" ]; then
  # With no window manager on the private display, wine would wait two
  # seconds for each destroyed window to be withdrawn; let wine draw the frames.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
fi
if [ -z "${ARK_PREFIX:-}" ]; then
  # The throw-away prefix plays sound through ALSA, which the tests point at a
  # file; wine would otherwise try PulseAudio first.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d alsa /f >/dev/null 2>&1
fi
wineserver -w
