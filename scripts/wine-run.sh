#!/usr/bin/env bash
# Runs a Windows program under Wine; CMake's emulator for the cross build.
# The prefix comes from WINEPREFIX (CTest sets it per test).
set -u
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix of the project}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree=;${WINEDLLOVERRIDES:-}"
exec wine "$@"
