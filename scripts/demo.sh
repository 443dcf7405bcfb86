#!/usr/bin/env bash
# The main job: builds everything, then installs the demo product under Wine
# on a virtual display, driven by the UI robot, and shows what it did.
#   scripts/demo.sh                  install (Windows 7 prefix)
#   scripts/demo.sh --win10          install on the Windows 10 road (text service)
#   scripts/demo.sh --lifecycle      install, repair, then uninstall
# Screenshots land in <build>/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
version=win7
lifecycle=0
for arg in "$@"; do
  case "$arg" in
    --win10) version=win10 ;;
    --lifecycle) lifecycle=1 ;;
    *) echo "unknown option $arg" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
cmake --build "$BUILD_DIR" -j"$(nproc)"

prefix="$PWD/$BUILD_DIR/wine/demo-$version"
scripts/wine-prefix.sh create "$prefix" "$version"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree="
screens="$PWD/$BUILD_DIR/screenshots/demo-$version"
rm -rf "$screens"; mkdir -p "$screens"
winpath() { printf 'Z:%s' "$(echo "$1" | sed 's|/|\\|g')"; }

robot="$BUILD_DIR/tests/robot/zerda_robot.exe"
setup="$BUILD_DIR/demo/ZerdaIME3_Setup.exe"
guid=$(sed -n 's/^text_service_guid *= *//p' demo/config.txt | tr -d '\r')
product_key="HKLM\\Software\\ZerdaIME3\\$guid"
run_robot() { scripts/with-xvfb.sh wine "$robot" "$@"; }
reg_value() {  # key value -> data (empty when missing)
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
unix_path() { winepath -u "$1" 2>/dev/null; }

summary() {
  echo "== what is on the machine now"
  local install data
  install=$(reg_value "$product_key" InstallLocation)
  data=$(reg_value "$product_key" DataLocation)
  if [ -z "$install" ]; then
    echo "product key $product_key: absent"
  else
    echo "product key $product_key:"
    wine reg query "$product_key" 2>/dev/null | tr -d '\r' | sed -n 's/^ \{2,\}/  /p'
    echo "uninstall entry UninstallString: $(reg_value "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid" UninstallString)"
    echo "install folder $install:"; ls -la "$(unix_path "$install")" | sed 's/^/  /'
    echo "data folder $data:"; ls -la "$(unix_path "$data")" | sed 's/^/  /'
  fi
  local sys32 ime
  ime=$(sed -n 's/^ime_name *= *//p' demo/config.txt | tr -d '\r')
  sys32="$prefix/drive_c/windows/system32"
  ls -la "$sys32"/"${ime,,}".ime "$prefix/drive_c/windows/syswow64"/"${ime,,}".ime 2>/dev/null | sed 's/^/  driver: /' \
    || echo "  no driver files in the system folders"
  echo "Start-menu group:"; ls "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/" 2>/dev/null | sed 's/^/  /'
  echo "companion tool calls:"; cat "$prefix/drive_c/ProgramData/VarekInputTool/calls.log" 2>/dev/null | sed 's/^/  /'
}

echo "== installing the demo product ($version)"
run_robot install "$(winpath "$PWD/$setup")" - --screens "$(winpath "$screens")"
summary
if [ "$lifecycle" = 1 ]; then
  install=$(reg_value "$product_key" InstallLocation)
  echo "== repair, as the repair shortcut starts it"
  run_robot repair "\"${install}installer.exe\" /n $guid /r" --screens "$(winpath "$screens")"
  summary
  echo "== uninstall, as the uninstall entry starts it"
  run_robot uninstall "$(reg_value "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid" UninstallString)" \
    --screens "$(winpath "$screens")"
  sleep 3
  summary
fi
for f in "$screens"/*.bmp; do
  [ -e "$f" ] && convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
echo "== screenshots: $screens"
ls "$screens"
scripts/wine-prefix.sh stop "$prefix"
