#!/usr/bin/env bash
# Runs a Windows program under Wine; CMake's emulator for the cross build.
# The prefix comes from WINEPREFIX (CTest sets it per test).
set -u
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the project}"
# A prefix made with a display of its own runs its programs there.
if [ -f "$WINEPREFIX/.zerda-display" ]; then DISPLAY="$(cat "$WINEPREFIX/.zerda-display")"; export DISPLAY; fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree=;${WINEDLLOVERRIDES:-}"
exec wine "$@"
