#!/usr/bin/env bash
# The full kill sweep: quiet installs, repairs and uninstalls of the demo
# setup killed at N evenly spread moments each (default 12), on both
# registration roads, each in a fresh Wine prefix of its own. Prints one line
# per kill point and "N converged, M failed" at the end; exit status 1 when a
# point failed. BUILD_DIR picks the build tree (default: build).
#   scripts/kill-sweep.sh [N]
set -uo pipefail
cd "$(dirname "$0")/.."
points="${1:-${ZERDA_KILL_POINTS:-12}}"
BUILD_DIR="${BUILD_DIR:-build}"
build="$(cd "$(dirname "$BUILD_DIR")" && pwd)/$(basename "$BUILD_DIR")"

scripts/install-deps.sh >/dev/null
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 2
cmake --build "$build" -j"$(nproc)" --target robot_interrupt_win7 robot_interrupt_win10 demo_setup zerda_robot >/dev/null ||
  { echo "build failed" >&2; exit 2; }

win_path() { local p="${1//\//\\}"; echo "Z:$p"; }
export WINEDLLOVERRIDES="winemenubuilder.exe=d" ZERDA_BUILD_DIR="$(win_path "$build")" ZERDA_SOURCE_DIR="$(win_path "$PWD")" ZERDA_KILL_POINTS="$points"
results="$build/kill-sweep"
mkdir -p "$results"

for road in win7 win10; do
  prefix="$build/wine/sweep-$road"
  ZERDA_PREFIX_DISPLAY=1 scripts/wine-prefix.sh create "$prefix" "$road" >/dev/null || { echo "no prefix" >&2; exit 2; }
  echo "== $road: $points kill points per command"
  WINEPREFIX="$prefix" scripts/wine-run.sh "$build/tests/robot/robot_interrupt_$road.exe" \
    >"$results/$road.log" 2>&1
  scripts/wine-prefix.sh stop "$prefix"
  # The program writes Windows line ends.
  tr -d '\r' <"$results/$road.log" >"$results/$road.txt"
  grep -a '^KILLPOINT' "$results/$road.txt" | sed 's/^KILLPOINT //'
  grep -aq '\[  PASSED  \]' "$results/$road.txt" || echo "$road: the test did not pass; see $results/$road.log"
done

converged=$(cat "$results"/win7.txt "$results"/win10.txt | grep -a '^KILLPOINT' | grep -ac ': converged$')
failed=$(cat "$results"/win7.txt "$results"/win10.txt | grep -a '^KILLPOINT' | grep -avc ': converged$')
expected=$((points * 3 * 2))
missing=$((expected - converged - failed))
[ "$missing" -gt 0 ] && failed=$((failed + missing)) && echo "$missing kill points never reported (the test stopped early)"
echo "$converged converged, $failed failed"
[ "$failed" -eq 0 ]
