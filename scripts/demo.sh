#!/usr/bin/env bash
# The main job: builds what the demo needs (the setup, the packaging tool, the
# demo payload and the UI robot; no test program), then installs the demo
# product under Wine on a virtual display, driven by the robot, and shows what
# it did. scripts/test.sh builds everything.
#   scripts/demo.sh                  install (Windows 7 prefix)
#   scripts/demo.sh --win10          install on the Windows 10 road (text service)
#   scripts/demo.sh --lifecycle      install, repair, then uninstall
#   scripts/demo.sh --signed         sign the demo with a throwaway certificate made
#                                    on the spot, install that, verify what was placed
#   scripts/demo.sh --dpi 144        the screen at 144 DPI (150 %; 120, 192 ... alike):
#                                    the dialogs drawn for that scale, their header
#                                    bands measured
# Screenshots land in <build>/screenshots/ (demo-<version>[-<dpi>dpi]).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
version=win7
lifecycle=0
signed=0
dpi=
while [ $# -gt 0 ]; do
  case "$1" in
    --win10) version=win10 ;;
    --lifecycle) lifecycle=1 ;;
    --signed) signed=1 ;;
    --dpi) dpi="${2:-}"; shift ;;
    --dpi=*) dpi="${1#--dpi=}" ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
case "$dpi" in
  '') ;;
  *[!0-9]*) echo "--dpi takes a number (96, 120, 144, 192 ...)" >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j"$(nproc)" --target demo_setup zerda_robot

prefix="$PWD/$BUILD_DIR/wine/demo-$version"
ZERDA_PREFIX_DISPLAY=1 scripts/wine-prefix.sh create "$prefix" "$version"
trap 'scripts/wine-prefix.sh stop "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
screens="$PWD/$BUILD_DIR/screenshots/demo-$version${dpi:+-${dpi}dpi}"
robot_scale=()
if [ -n "$dpi" ]; then
  # Read by each program as it starts, as Windows' display scale is.
  scripts/wine-run.sh reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  robot_scale=(--dpi "$dpi")
fi
rm -rf "$screens"; mkdir -p "$screens"
winpath() { printf 'Z:%s' "$(echo "$1" | sed 's|/|\\|g')"; }

robot="$BUILD_DIR/tests/robot/zerda_robot.exe"
setup="$BUILD_DIR/demo/ZerdaIME3_Setup.exe"
if [ "$signed" = 1 ]; then
  certs="$PWD/$BUILD_DIR/signing-demo"
  rm -rf "$certs"
  scripts/make-throwaway-cert.sh "$certs"
  setup="$BUILD_DIR/demo/ZerdaIME3_Setup_signed.exe"
  "$BUILD_DIR/packtool-host/packtool" pack "$BUILD_DIR/installer.exe" "$BUILD_DIR/demo/payload" "$setup" \
    --cert "$certs/signer.pem" --key "$certs/signer.key"
  echo "== signed setup $setup"
  "$BUILD_DIR/packtool-host/packtool" inspect "$setup" | grep -E '^signature|signed by' | sed 's/^ */  /'
fi
guid=$(sed -n 's/^text_service_guid *= *//p' demo/config.txt | tr -d '\r')
product_key="HKEY_LOCAL_MACHINE\\Software\\ZerdaIME3\\$guid"
# Everything runs on the prefix's own virtual display.
run_robot() { scripts/wine-run.sh "$robot" "$@" ${robot_scale[@]+"${robot_scale[@]}"}; }
reg_dump() {  # key -> its values as "name"="data" lines, UTF-8 (empty when missing)
  local out; out=$(mktemp)
  if scripts/wine-run.sh regedit /E "$out" "$1" >/dev/null 2>&1 && [ -s "$out" ]; then
    iconv -f UTF-16LE -t UTF-8 "$out" | tr -d '\r' | sed -e '1s/^\xEF\xBB\xBF//' | grep '^"' || true
  fi
  rm -f "$out"
}
reg_value() {  # key value -> data (empty when missing)
  reg_dump "$1" | sed -n "s/^\"$2\"=\"\(.*\)\"\$/\1/p" | sed 's/\\\\/\\/g'
}
unix_path() { WINEPREFIX="$prefix" winepath -u "$1" 2>/dev/null; }

uninstall_key="HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid"
summary() {
  set +e  # a missing item is part of the report
  echo "== what is on the machine now"
  local install data ime
  install=$(reg_value "$product_key" InstallLocation)
  data=$(reg_value "$product_key" DataLocation)
  if [ -z "$install" ]; then
    echo "product key: absent"
  else
    echo "product key $product_key:"; reg_dump "$product_key" | sed 's/^/  /'
    echo "uninstall entry:"; reg_dump "$uninstall_key" | sed 's/^/  /'
    echo "install folder $install:"; ls -la "$(unix_path "$install")" 2>&1 | sed 's/^/  /'
    echo "data folder $data:"; ls -la "$(unix_path "$data")" 2>&1 | sed 's/^/  /'
  fi
  ime=$(sed -n 's/^ime_name *= *//p' demo/config.txt | tr -d '\r' | tr 'A-Z' 'a-z')
  echo "drivers:"
  ls -la "$prefix/drive_c/windows/system32/$ime.ime" "$prefix/drive_c/windows/syswow64/$ime.ime" 2>&1 | sed 's/^/  /'
  echo "Start-menu groups:"
  ls "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/" 2>&1 | sed 's/^/  /'
  echo "companion tool calls:"
  sed 's/^/  /' "$prefix/drive_c/ProgramData/VarekInputTool/calls.log" 2>/dev/null || echo "  none"
  if [ "$signed" = 1 ] && [ -n "$install" ]; then
    echo "signatures (osslsigncode verify against the throwaway authority):"
    local dir f
    dir=$(unix_path "$install")
    for f in "$prefix/drive_c/windows/system32/$ime.ime" "$prefix/drive_c/windows/syswow64/$ime.ime" \
             "$dir/installer.exe" "$dir/config.exe" "$dir/tools/varekinputtool.exe"; do
      if osslsigncode verify -CAfile "$certs/ca.pem" -in "$f" >/dev/null 2>&1; then echo "  verified: $f"
      else echo "  NOT verified: $f"; fi
    done
  fi
  set -e
}

echo "== installing the demo product ($version${dpi:+, $dpi DPI})"
mkdir -p "$screens/1-install"
run_robot install "$(winpath "$PWD/$setup")" - --screens "$(winpath "$screens/1-install")"
summary
if [ "$lifecycle" = 1 ]; then
  install=$(reg_value "$product_key" InstallLocation)
  echo "== repair, as the repair shortcut starts it"
  mkdir -p "$screens/2-repair"
  run_robot repair "\"${install}installer.exe\" /n $guid /r" --screens "$(winpath "$screens/2-repair")"
  summary
  echo "== uninstall, as the uninstall entry starts it"
  mkdir -p "$screens/3-uninstall"
  run_robot uninstall "$(reg_value "$uninstall_key" UninstallString | sed 's/\\"/"/g')" \
    --screens "$(winpath "$screens/3-uninstall")"
  sleep 3
  summary
fi
for f in "$screens"/*/*.bmp; do
  [ -e "$f" ] && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
echo "== screenshots: $screens"
(cd "$screens" && ls */)
