#!/usr/bin/env bash
# Unpacking benchmark: a payload of realistic size (about 120 entries, 30 MB,
# compressible and incompressible), packed by packtool, unpacked once by the
# setup's UnpackArchive (under Wine, no display pacing) and once by unzip -o.
# Prints time and peak memory of both and the size of the plain installer.
#   BUILD_DIR=build-x scripts/bench-unpack.sh      (default: build)
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"
cmake --build "$BUILD_DIR" --target payload_bench_unpack installer packtool_host >/dev/null

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

installer="$BUILD_DIR/installer.exe"
"$BUILD_DIR/packtool-host/packtool" pack "$installer" "$payload" "$work/setup.exe"
isize=$(stat -c %s "$installer")
tail -c +$((isize + 1)) "$work/setup.exe" > "$work/archive.zip"
entries=$(find "$payload" -type f | wc -l)
bytes=$(du -sb "$payload" | cut -f1)

export WINEPREFIX="$BUILD_DIR/wine/bench" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
[ -f "$WINEPREFIX/.zerda-ready" ] || scripts/wine-prefix.sh create "$WINEPREFIX" win7 >/dev/null
bench="$BUILD_DIR/tests/payload/payload_bench_unpack.exe"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
wine "$bench" "$(winpath "$work/archive.zip")" "$(winpath "$work/warm")" >/dev/null  # wine start-up warm

peak() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
wall() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1"; }

echo "payload: $entries files, $bytes bytes; archive $(stat -c %s "$work/archive.zip") bytes"
echo "plain installer.exe: $isize bytes"
for run in 1 2 3; do
  rm -rf "$work/out-setup" "$work/out-unzip"
  mkdir -p "$work/out-unzip"
  inner=$(/usr/bin/time -v -o "$work/time-setup" wine "$bench" "$(winpath "$work/archive.zip")" "$(winpath "$work/out-setup")")
  /usr/bin/time -v -o "$work/time-unzip" unzip -o -q "$work/archive.zip" -d "$work/out-unzip" 2>/dev/null || true
  echo "run $run: $inner; process wall $(wall "$work/time-setup"), peak RSS $(peak "$work/time-setup") KiB (wine process)" \
       "| unzip -o: wall $(wall "$work/time-unzip"), peak RSS $(peak "$work/time-unzip") KiB"
done
# Both wrote the same bytes.
diff -r "$work/out-setup" "$work/out-unzip" >/dev/null && echo "outputs identical" || echo "OUTPUTS DIFFER"
wineserver -k 2>/dev/null || true
