#!/usr/bin/env bash
# Creates (or stops) a project-local Wine prefix.
#   wine-prefix.sh create DIR [win7|win10]   fresh prefix at DIR, Windows version set
#   wine-prefix.sh version DIR win7|win10    switch an existing prefix
#   wine-prefix.sh stop DIR                  ends the prefix's wineserver
set -euo pipefail
cmd="$1"; dir="$2"; ver="${3:-win7}"
export WINEPREFIX="$dir" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko downloads: the machines have no network for them.
export WINEDLLOVERRIDES="mscoree=;${WINEDLLOVERRIDES:-}"

set_version() {
  wine winecfg -v "$1" >/dev/null 2>&1
  wineserver -w
}

start_display() {
  local n disp=""
  for n in $(seq 141 199); do
    if [ ! -e "/tmp/.X${n}-lock" ] && [ ! -e "/tmp/.X11-unix/X${n}" ]; then disp=$n; break; fi
  done
  [ -n "$disp" ] || { echo "no free X display" >&2; return 1; }
  # Large enough for the dialogs at 200 % (192 DPI).
  setsid Xvfb ":$disp" -screen 0 1920x1200x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  echo $! > "$dir/.zerda-xvfb-pid"
  for _ in $(seq 1 50); do [ -e "/tmp/.X11-unix/X${disp}" ] && break; sleep 0.1; done
  echo ":$disp" > "$dir/.zerda-display"
}

case "$cmd" in
  create)
    [ -n "$dir" ] && [ "$dir" != "/" ] || { echo "bad prefix dir" >&2; exit 2; }
    if [ -d "$dir" ]; then WINEPREFIX="$dir" wineserver -k 2>/dev/null || true; fi
    if [ -f "$dir/.zerda-xvfb-pid" ]; then kill "$(cat "$dir/.zerda-xvfb-pid")" 2>/dev/null || true; fi
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    WINEDLLOVERRIDES="mscoree=;mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
    set_version "$ver"
    # Uyghur dialogs ask for the face ALKATIP; show them in a UKIJ face instead.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v ALKATIP /t REG_SZ /d 'UKIJ Tuz Tom' /f >/dev/null 2>&1
    # X: is a network drive (GetDriveTypeW: DRIVE_REMOTE), a folder of the
    # prefix behind it, for the install-folder checks.
    mkdir -p "$dir/network-share"
    ln -sfn "$dir/network-share" "$dir/dosdevices/x:"
    wine reg add 'HKLM\Software\Wine\Drives' /v 'x:' /t REG_SZ /d network /f >/dev/null 2>&1
    wineserver -w
    touch "$dir/.zerda-ready"
    # Each prefix gets a virtual display of its own when one is asked for, so
    # that windows and screenshots of tests in other prefixes never overlap.
    if [ "${ZERDA_PREFIX_DISPLAY:-0}" = 1 ]; then start_display; fi
    echo "wine prefix ready: $dir ($ver)"
    ;;
  version)
    set_version "$ver"
    ;;
  stop)
    [ -d "$dir" ] && wineserver -k 2>/dev/null || true
    if [ -f "$dir/.zerda-xvfb-pid" ]; then
      kill "$(cat "$dir/.zerda-xvfb-pid")" 2>/dev/null || true
      rm -f "$dir/.zerda-xvfb-pid" "$dir/.zerda-display"
    fi
    ;;
  *) echo "usage: $0 create|version|stop DIR [win7|win10]" >&2; exit 2 ;;
esac
