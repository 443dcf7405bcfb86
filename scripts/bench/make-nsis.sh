#!/usr/bin/env bash
# An NSIS installer of a payload folder (64-bit stub): its pages are the
# install folder and the progress (a silent /S run shows neither); files into
# the install folder, an uninstaller and its uninstall entry.
#   scripts/bench/make-nsis.sh NAME COMPRESSOR PAYLOAD OUT.exe SCRIPT.nsi
set -euo pipefail
name="$1" compressor="$2" payload="$3" out="$4" script="$5"
cat > "$script" <<EOF
Unicode true
Target amd64-unicode
SetCompressor $compressor
Name "Zerda bench $name"
OutFile "$out"
InstallDir "\$PROGRAMFILES64\\Bench $name"
RequestExecutionLevel admin
Page directory
Page instfiles
Section
  SetOutPath "\$INSTDIR"
  File /r "$payload/*"
  WriteUninstaller "\$INSTDIR\\uninst.exe"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench $name" "DisplayName" "Zerda bench $name"
  WriteRegStr HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench $name" "UninstallString" '"\$INSTDIR\\uninst.exe"'
SectionEnd
Section "Uninstall"
  RMDir /r "\$INSTDIR"
  DeleteRegKey HKLM "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench $name"
SectionEnd
EOF
makensis -V1 "$script" >/dev/null
