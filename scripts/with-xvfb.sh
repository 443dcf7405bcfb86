#!/usr/bin/env bash
# Runs a command with a private Xvfb display, started here and stopped afterwards.
set -u
for n in $(seq 91 140); do
  [ -e "/tmp/.X${n}-lock" ] || [ -e "/tmp/.X11-unix/X${n}" ] || { disp=$n; break; }
done
: "${disp:?no free X display}"
Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 1 50); do
  [ -e "/tmp/.X11-unix/X${disp}" ] && break
  sleep 0.1
done
export DISPLAY=":$disp"
"$@"
rc=$?
kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null
exit $rc
