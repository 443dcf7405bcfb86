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

case "$cmd" in
  create)
    [ -n "$dir" ] && [ "$dir" != "/" ] || { echo "bad prefix dir" >&2; exit 2; }
    if [ -d "$dir" ]; then WINEPREFIX="$dir" wineserver -k 2>/dev/null || true; fi
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    WINEDLLOVERRIDES="mscoree=;mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
    set_version "$ver"
    # Uyghur dialogs ask for the face ALKATIP; show them in a UKIJ face instead.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v ALKATIP /t REG_SZ /d 'UKIJ Tuz Tom' /f >/dev/null 2>&1
    wineserver -w
    touch "$dir/.zerda-ready"
    echo "wine prefix ready: $dir ($ver)"
    ;;
  version)
    set_version "$ver"
    ;;
  stop)
    [ -d "$dir" ] && wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 create|version|stop DIR [win7|win10]" >&2; exit 2 ;;
esac
