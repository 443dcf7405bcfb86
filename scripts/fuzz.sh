#!/usr/bin/env bash
# Builds the fuzz targets and their seed corpora in the build tree and runs
# each target for SECONDS (default 60), then prints the executions per target.
#   scripts/fuzz.sh [--no-build] [SECONDS]     BUILD_DIR picks the build tree (default: build)
# Inputs of earlier findings are replayed first. A finding stops with the
# target's report; its input is left in <build>/fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
build=1
if [ "${1:-}" = --no-build ]; then build=0; shift; fi
seconds="${1:-60}"
fuzz="$BUILD_DIR/fuzz"
if [ "$build" = 1 ]; then
  [ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target fuzz_host fuzz_seeds >/dev/null
fi
[ -x "$fuzz/fuzz_config" ] || { echo "no fuzz targets in $fuzz (clang-14 and libclang-rt-14-dev missing?)" >&2; exit 1; }

status=0
summary=""
for target in config setup_image entry_name zip; do
  binary="$fuzz/fuzz_$target"
  corpus="$fuzz/corpus/$target"
  findings="$fuzz/findings/$target"
  mkdir -p "$corpus" "$findings"
  cp -n "$fuzz/seeds/$target"/* "$corpus"/ 2>/dev/null || true
  log="$fuzz/$target.log"
  regressions=("$fuzz/seeds/regressions/$target"/*)
  if [ -e "${regressions[0]}" ] && ! "$binary" "${regressions[@]}" >"$log" 2>&1; then
    echo "fuzz_$target: a regression input fails again:" >&2; tail -n 30 "$log" >&2
    status=1; continue
  fi
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1; then
    echo "fuzz_$target: finding (input in $findings):" >&2; grep -v '^#' "$log" | tail -n 40 >&2
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=$(printf '%-22s %12s executions in %ss, corpus %s inputs' "fuzz_$target" "${runs:-?}" "$seconds" \
             "$(ls "$corpus" | wc -l)")$'\n'
done
printf '%s' "$summary"
exit "$status"
