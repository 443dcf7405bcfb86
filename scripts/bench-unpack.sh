#!/usr/bin/env bash
# Unpacking benchmark: a payload of realistic size (about 120 entries, 30 MB,
# compressible and incompressible), packed by packtool, unpacked by the
# setup's UnpackArchive (under Wine, in-process time, no display pacing) and by
# unzip -o, alternately, RUNS times. Per run and as medians it prints the
# setup / unzip time ratio and the setup's peak memory minus the payload size;
# and the size of the shipped installer.exe.
#   BUILD_DIR=build-x RUNS=5 scripts/bench-unpack.sh      (defaults: build, 5)
# A missing build tree is configured and the needed targets are built first.
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
RUNS="${RUNS:-5}"
for tool in unzip wine cmake; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps.sh" >&2; exit 1; }
done
[ -f "$BUILD_DIR/CMakeCache.txt" ] || cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
echo "building the benchmark program, installer.exe and packtool in $BUILD_DIR ..."
cmake --build "$BUILD_DIR" -j2 --target payload_bench_unpack installer packtool_host >/dev/null

work="$(mktemp -d /tmp/zerda-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT
payload="$work/payload"
mkdir -p "$payload/\$dataFiles\$" "$payload/\$fonts\$" "$payload/tools" "$payload/colourful" "$payload/x86" "$payload/docs"

# Incompressible: 40 files, 12 MB of random bytes.
for i in $(seq 1 40); do head -c $((300 * 1024)) /dev/urandom > "$payload/x86/blob$i.bin"; done
# Compressible: 50 text files, about 12 MB.
for i in $(seq 1 50); do
  seq "$((i * 1000))" "$((i * 1000 + 29000))" | sed 's/$/ zerda dictionary line/' | head -c $((240 * 1024)) > "$payload/docs/dict$i.txt"
done
# Fonts (already compressed in part): 20 files.
for f in $(ls /usr/share/fonts/truetype/fonts-ukij-uyghur/*.ttf | head -20); do cp "$f" "$payload/\$fonts\$/"; done
# Small files: 10.
for i in $(seq 1 10); do printf 'skin %d\n' "$i" > "$payload/colourful/skin$i.icc"; done
"$BUILD_DIR/packtool-host/packtool" config demo/config.txt "$payload/\$dataFiles\$/config.dsc"
# The two drivers packtool requires (their content does not matter here).
head -c 65536 /dev/urandom > "$payload/zerdaIME.ime"; head -c 65536 /dev/urandom > "$payload/x86/zerdaIME.ime"

installer="$BUILD_DIR/installer.exe"
"$BUILD_DIR/packtool-host/packtool" pack "$installer" "$payload" "$work/setup.exe" >/dev/null
isize=$(stat -c %s "$installer")
tail -c +$((isize + 1)) "$work/setup.exe" > "$work/archive.zip"
entries=$(find "$payload" -type f | wc -l)
bytes=$(du -sb "$payload" | cut -f1)

export WINEPREFIX="$BUILD_DIR/wine/bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
[ -f "$WINEPREFIX/.zerda-ready" ] || scripts/wine-prefix.sh create "$WINEPREFIX" win7 >/dev/null
bench="$BUILD_DIR/tests/payload/payload_bench_unpack.exe"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
wine "$bench" "$(winpath "$work/archive.zip")" "$(winpath "$work/warm")" >/dev/null  # wine start-up warm
unzip -o -q "$work/archive.zip" -d "$work/warm-unzip" >/dev/null 2>&1 || true

echo "payload: $entries files, $bytes bytes; archive $(stat -c %s "$work/archive.zip") bytes"
echo "shipped installer.exe: $isize bytes ($(awk -v b="$isize" 'BEGIN { printf "%.1f", b / 1000 }') KB)"
ratios=() extras=()
for run in $(seq 1 "$RUNS"); do
  rm -rf "$work/out-setup" "$work/out-unzip"
  mkdir -p "$work/out-unzip"
  # Neither run pays for the other's writes being flushed.
  sync
  inner=$(wine "$bench" "$(winpath "$work/archive.zip")" "$(winpath "$work/out-setup")")
  sync
  start=$EPOCHREALTIME
  unzip -o -q "$work/archive.zip" -d "$work/out-unzip" >/dev/null 2>&1 || true
  end=$EPOCHREALTIME
  setup_ms=$(echo "$inner" | sed -n 's/.* in \([0-9.]*\) ms.*/\1/p')
  peak_kib=$(echo "$inner" | sed -n 's/.*peak working set \([0-9]*\) KiB.*/\1/p')
  [ -n "$setup_ms" ] && [ -n "$peak_kib" ] && echo "$inner" | grep -q ': ok in' || { echo "run $run failed: $inner" >&2; exit 1; }
  unzip_ms=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", (b - a) * 1000 }')
  ratio=$(awk -v s="$setup_ms" -v u="$unzip_ms" 'BEGIN { printf "%.2f", s / u }')
  extra=$(awk -v k="$peak_kib" -v p="$bytes" 'BEGIN { printf "%.1f", (k * 1024 - p) / 1048576 }')
  ratios+=("$ratio") extras+=("$extra")
  echo "run $run: UnpackArchive $setup_ms ms, unzip -o $unzip_ms ms, ratio $ratio;" \
       "peak $peak_kib KiB = payload + $extra MiB"
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "median of $RUNS runs: time ratio setup/unzip $(median "${ratios[@]}")," \
     "peak memory - payload $(median "${extras[@]}") MiB, installer.exe $isize bytes"
# Both wrote the same bytes.
diff -r "$work/out-setup" "$work/out-unzip" >/dev/null && echo "outputs identical" || { echo "OUTPUTS DIFFER"; exit 1; }
wineserver -k 2>/dev/null || true
