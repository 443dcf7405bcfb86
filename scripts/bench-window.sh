#!/usr/bin/env bash
# The person's road, side by side: from the start of the program to a window
# a person can act on (a visible, enabled window with a visible, enabled
# button: this setup's wizard, NSIS's first page), for this setup and NSIS
# with zlib, each on the install benchmark's payload and on one twice as
# large, in alternating rounds under Wine (windows unmanaged for all: without
# a window manager Wine would wait for one at every window). Each round ends
# the program as soon as the window is there and removes what it left (the
# work folder, the fonts this setup placed). Prints each round, the medians,
# the ratios this setup / NSIS and the growth from one payload to the other.
#   RUNS=5 BUILD_DIR=build WINVER=win7 scripts/bench-window.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
RUNS="${RUNS:-5}"
WINVER="${WINVER:-win7}"
LIMIT_S=60
source scripts/bench/prepare.sh
bench_prepare bench-window makensis
mkdir -p "$work/setups"

# --- Two payloads, this setup and NSIS of each ----------------------------------
out="$work/setups"
for copies in 1 2; do
  payload="$work/payload$copies"
  scripts/bench/make-payload.sh "$BUILD_DIR/demo/payload" "$payload" "$copies"
  printf 'payload %dx: %d files, %.1f MB\n' "$copies" "$(find "$payload" -type f | wc -l)" \
    "$(awk -v b="$(du -sb "$payload" | cut -f1)" 'BEGIN { print b / 1e6 }')"
  "$packtool" pack "$BUILD_DIR/installer.exe" "$payload" "$out/zerda$copies.exe" >/dev/null
  digest=$({ cat scripts/bench/make-nsis.sh; cd "$payload" && find . -type f | LC_ALL=C sort | xargs -d '\n' sha256sum; } |
    sha256sum | cut -c1-16)
  if [ "$(cat "$out/nsis$copies.digest" 2>/dev/null)" != "$digest" ]; then
    echo "building the NSIS installer of payload ${copies}x ..."
    scripts/bench/make-nsis.sh "nsis$copies" zlib "$payload" "$out/nsis$copies.exe" "$work/nsis$copies.nsi"
    echo "$digest" > "$out/nsis$copies.digest"
  fi
done

# --- The machine -----------------------------------------------------------
echo "creating the Wine prefix ($WINVER) ..."
ZERDA_PREFIX_DISPLAY=1 scripts/wine-prefix.sh create "$WINEPREFIX" "$WINVER" >/dev/null
DISPLAY="$(cat "$WINEPREFIX/.zerda-display")"; export DISPLAY
drive="$WINEPREFIX/drive_c"
mkdir -p "$drive/bench"
cp "$out"/*.exe "$work/run-timed.exe" "$drive/bench/"
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>>"$work/wine.err"
wine 'C:\bench\run-timed.exe' --hold </dev/null >/dev/null 2>&1 &
temp=$(wine cmd /c echo '%TEMP%' 2>>"$work/wine.err" | tr -d '\r')
temp=$(winepath -u "$temp" 2>>"$work/wine.err")
[ -d "$temp" ] || { echo "no temporary folder in the prefix: $temp" >&2; exit 1; }
fonts_key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts'
fontnames=$(ls "$work/payload1/\$fonts\$" | tr 'A-Z' 'a-z')
{ echo REGEDIT4; echo "[$fonts_key]"
  for f in $fontnames; do echo "\"${f%%.ttf*}(TrueType)\"=-"; done; } > "$drive/bench/drop-fonts.reg"

window() {  # name -> took (ms)
  local line
  line=$(wine 'C:\bench\run-timed.exe' --window "$LIMIT_S" "C:\\bench\\$1.exe" 2>>"$work/wine.err" | tr -d '\r' || true)
  case "$line" in "window "*) took=${line#window } ;; *) echo "$1 showed no window (see $work/wine.err)" >&2; exit 1 ;; esac
  # What the ended program left: its work folder (the next start would remove
  # it first) and NSIS's plug-in folder, this setup's fonts.
  rm -rf "$drive/windows/temp"/ZerdaIME3.* "$temp"/ns*.tmp
  case "$1" in
    zerda*) wine regedit /S 'C:\bench\drop-fonts.reg' 2>>"$work/wine.err"
            for f in $fontnames; do rm -f "$drive/windows/Fonts/$f"; done ;;
  esac
}

names=(zerda1 nsis1 zerda2 nsis2)
declare -A times
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# One round not counted: Wine's first start of each program reads its DLLs from disk.
for name in "${names[@]}"; do window "$name"; done
for run in $(seq 1 "$RUNS"); do
  row="round $run:"
  for k in 0 1 2 3; do  # each round starts with the next setup
    name=${names[$(((run - 1 + k) % 4))]}
    sync
    window "$name"
    times[$name]+=" $took"
    row+=" $name $(awk -v t="$took" 'BEGIN { printf "%.2f", t / 1000 }') s,"
  done
  echo "${row%,}"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A med
for name in "${names[@]}"; do med[$name]=$(median "${times[$name]}"); done
s() { awk -v m="$1" 'BEGIN { printf "%.2f", m / 1000 }'; }
r() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo
printf '%-34s %12s %12s %8s\n' "start to a window with a button" "payload 1x" "payload 2x" "2x / 1x"
printf '%-34s %10s s %10s s %8s\n' "this setup, the wizard" "$(s "${med[zerda1]}")" "$(s "${med[zerda2]}")" "$(r "${med[zerda2]}" "${med[zerda1]}")"
printf '%-34s %10s s %10s s %8s\n' "NSIS zlib, its first page" "$(s "${med[nsis1]}")" "$(s "${med[nsis2]}")" "$(r "${med[nsis2]}" "${med[nsis1]}")"
printf '%-34s %12s %12s\n' "ratio this setup / NSIS" "$(r "${med[zerda1]}" "${med[nsis1]}")" "$(r "${med[zerda2]}" "${med[nsis2]}")"
# Per round as well: a ratio of the same round holds when the machine's speed drifts.
per_round() { median "$(paste -d' ' <(printf '%s\n' ${times[zerda$1]}) <(printf '%s\n' ${times[nsis$1]}) | awk '{ print $1 / $2 }')"; }
printf '%-34s %12.2f %12.2f\n' "  median of the per-round ratios" "$(per_round 1)" "$(per_round 2)"
