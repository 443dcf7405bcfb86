#!/usr/bin/env bash
# Side-by-side install benchmark: one payload (about 130 files, 34 MB:
# incompressible data, dictionaries, fonts, skins and the demo's drivers,
# programs and configuration) packed four ways: this setup (packtool), NSIS
# with zlib, NSIS with solid LZMA (64-bit stubs) and an MSI (wixl). Each is
# installed without a window under Wine in alternating rounds, timed from a
# Windows parent until its whole process tree has ended, checked, and
# uninstalled (fonts this setup placed are removed too, so every round meets
# the same machine). Prints each round, then per installer the setup size and
# the median time, and the ratios this setup / each peer.
#   RUNS=5 BUILD_DIR=build WINVER=win7 scripts/bench-install.sh
# Installs the peers' builders itself (scripts/install-deps.sh --bench). A
# missing build tree is configured and the needed targets are built first.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
RUNS="${RUNS:-5}"
WINVER="${WINVER:-win7}"
LIMIT_S=120
source scripts/bench/prepare.sh
bench_prepare bench-install makensis wixl wixl-heat
rm -rf "$work/payload"

# --- The payload -----------------------------------------------------------
payload="$work/payload"
scripts/bench/make-payload.sh "$BUILD_DIR/demo/payload" "$payload"
files=$(find "$payload" -type f | wc -l)
bytes=$(du -sb "$payload" | cut -f1)
printf 'payload: %d files, %.1f MB\n' "$files" "$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')"

# --- The four installers ---------------------------------------------------
out="$work/setups"
mkdir -p "$out"
"$packtool" pack "$BUILD_DIR/installer.exe" "$payload" "$out/zerda.exe" >/dev/null

# The peers take a while (solid LZMA most): built again only for another payload.
digest=$({ cat scripts/bench/make-nsis.sh; cd "$payload" && find . -type f | LC_ALL=C sort | xargs -d '\n' sha256sum; } |
  sha256sum | cut -c1-16)
if [ "$(cat "$out/peers.digest" 2>/dev/null)" != "$digest" ]; then
  echo "building the NSIS and MSI installers ..."
  rm -f "$out/peers.digest"
  nsis() { scripts/bench/make-nsis.sh "$1" "$2" "$payload" "$out/$1.exe" "$work/$1.nsi"; }
  nsis nsis-zlib zlib
  nsis nsis-lzma "/SOLID lzma"

  # wixl reads Source paths from its working folder; its preprocessor eats a
  # "$" in a directory name unless it is doubled.
  (cd "$work" && find payload -type f | wixl-heat -p payload/ --component-group Payload --directory-ref INSTALLDIR \
      --var var.SourceDir --win64 | sed '/<Directory /s/\$/$$/g' > files.wxs)
  cat > "$work/product.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Zerda bench msi" Language="1033" Version="1.0.0" Manufacturer="Zerda bench"
           UpgradeCode="6F1C2B7E-3D4A-4E59-8A61-0C2F3B9D4E71">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="payload.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="Bench msi"/>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentGroupRef Id="Payload"/></Feature>
  </Product>
</Wix>
EOF
  (cd "$work" && wixl -a x64 -D SourceDir=payload -D Win64=yes -o "$out/msi.msi" product.wxs files.wxs 2>wixl.err) ||
    { cat "$work/wixl.err" >&2; exit 1; }
  echo "$digest" > "$out/peers.digest"
fi

# --- The machine -----------------------------------------------------------
echo "creating the Wine prefix ($WINVER) ..."
ZERDA_PREFIX_DISPLAY=1 scripts/wine-prefix.sh create "$WINEPREFIX" "$WINVER" >/dev/null
DISPLAY="$(cat "$WINEPREFIX/.zerda-display")"; export DISPLAY
drive="$WINEPREFIX/drive_c"
mkdir -p "$drive/bench/logs"
cp "$out"/* "$work/run-timed.exe" "$drive/bench/"
pf="$drive/Program Files"
# Wine keeps its services only while a program runs: one holds them for the
# whole benchmark (started without pipes, which Wine's helpers would inherit).
wine 'C:\bench\run-timed.exe' --hold </dev/null >/dev/null 2>&1 &
guid=$(sed -n 's/^text_service_guid *= *//p' demo/config.txt | tr -d '\r ')
ime=$(sed -n 's/^ime_name *= *//p' demo/config.txt | tr -d '\r ')
fonts_key='HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Fonts'
# The fonts this setup places, lower-case, and their values in the Fonts key.
fontnames=$(ls "$payload/\$fonts\$" | tr 'A-Z' 'a-z')
{ echo REGEDIT4; echo "[$fonts_key]"
  for f in $fontnames; do echo "\"${f%%.ttf*}(TrueType)\"=-"; done; } > "$drive/bench/drop-fonts.reg"

timed() {  # prints "exit CODE process MS tree MS"
  wine 'C:\bench\run-timed.exe' "$LIMIT_S" "$@" 2>>"$work/wine.err" | tr -d '\r' || true
}
# Every payload file below the install folder, byte for byte (minus the ones
# this setup places elsewhere; it writes program files' names in lower case).
check_tree() {  # install folder, what to leave out (grep -E), label
  local missing
  missing=$(cd "$payload" && find . -type f | grep -v -E "$2" | while read -r f; do
    cmp -s "$f" "$1/$f" 2>/dev/null || cmp -s "$f" "$1/${f,,}" || echo "$f"; done | head -3)
  [ -z "$missing" ] || { echo "$3 did not install $missing" >&2; exit 1; }
}
zerda_own='^\./(zerdaIME\.ime|x86/zerdaIME\.ime|\$dataFiles\$/|\$fonts\$/)'

install() {  # name round -> took_process, took_tree (ms)
  local line code
  case "$1" in
    zerda) line=$(timed 'C:\bench\zerda.exe' /quiet '/dir=C:\Program Files\Bench zerda' "/log=C:\bench\logs\zerda-$2.log") ;;
    nsis-*) line=$(timed "C:\\bench\\$1.exe" /S) ;;
    msi) line=$(timed msiexec /i 'C:\bench\msi.msi' /qn) ;;
  esac
  read -r _ code _ took_process _ took_tree <<<"$line" || true
  case "${code:-}" in 0|3010) ;; *) echo "$1 failed: ${line:-no result} (see $work/wine.err)" >&2; exit 1 ;; esac
  case "$1" in
    zerda)
      check_tree "$pf/Bench zerda" "$zerda_own" "$1"
      [ -f "$drive/windows/system32/$ime.ime" ] || [ -f "$drive/windows/system32/${ime,,}.ime" ] || { echo "$1 placed no driver" >&2; exit 1; }
      for f in $fontnames; do [ -f "$drive/windows/Fonts/$f" ] || { echo "$1 placed no font $f" >&2; exit 1; }; done ;;
    *) check_tree "$pf/Bench $1" '^$' "$1" ;;
  esac
}
uninstall() {
  local line=""
  case "$1" in
    zerda)
      line=$(timed 'C:\Program Files\Bench zerda\installer.exe' /n "$guid" /u /quiet)
      wine regedit /S 'C:\bench\drop-fonts.reg' 2>>"$work/wine.err"
      for f in $fontnames; do rm -f "$drive/windows/Fonts/$f"; done ;;
    # The uninstaller runs from a copy in the temporary folder; the job waits for it.
    nsis-*) line=$(timed "C:\Program Files\Bench $1\uninst.exe" /S) ;;
    msi) line=$(timed msiexec /x 'C:\bench\msi.msi' /qn) ;;
  esac
  case "$line" in "exit 0 "*|"exit 3010 "*) ;; *) echo "note: the uninstall of $1 gave: ${line:-no result}" >&2 ;; esac
  # Under Wine msiexec leaves the emptied folder; files left are worth a word.
  if [ -n "$(find "$pf/Bench $1" -type f 2>/dev/null | head -1)" ]; then
    echo "note: the uninstall of $1 left files in $pf/Bench $1; removed" >&2
  fi
  rm -rf "$pf/Bench $1"
}

names=(zerda nsis-zlib nsis-lzma msi)
declare -A label=([zerda]="this setup, /quiet" [nsis-zlib]="NSIS zlib, /S" [nsis-lzma]="NSIS solid LZMA, /S"
                  [msi]="MSI (wixl), msiexec /qn")
declare -A size=([zerda]=zerda.exe [nsis-zlib]=nsis-zlib.exe [nsis-lzma]=nsis-lzma.exe [msi]=msi.msi)
declare -A trees procs

# The timer itself first: arguments must arrive as given, and a child that
# outlives its parent (here a second of ping) must be waited for.
echoed=$(timed cmd /d /c echo '/dir=C:\a b' 'x"y' | head -1)
[ "$echoed" = '"/dir=C:\a b" "x\"y"' ] || { echo "the timer passed the arguments on as: $echoed" >&2; exit 1; }
read -r _ _ _ process _ tree <<<"$(timed cmd /d /c start /b ping -n 2 127.0.0.1 | tail -1)"
awk -v p="${process:-0}" -v t="${tree:-0}" 'BEGIN { exit !(t - p > 800) }' ||
  { echo "the timer did not wait for a child that outlived its parent (process ${process:-?} ms, tree ${tree:-?} ms)" >&2; exit 1; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
# One round not counted: Wine's first start of each program reads its DLLs from disk.
for name in "${names[@]}"; do install "$name" warm; uninstall "$name"; done
for run in $(seq 1 "$RUNS"); do
  row="round $run:"
  for k in 0 1 2 3; do  # each round starts with the next installer
    name=${names[$(((run - 1 + k) % 4))]}
    sync
    install "$name" "$run"
    trees[$name]+=" $took_tree" procs[$name]+=" $took_process"
    row+=" $name $(awk -v t="$took_tree" 'BEGIN { printf "%.2f", t / 1000 }') s,"
    uninstall "$name"
  done
  echo "${row%,}"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

median() { printf '%s\n' $1 | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo
printf '%-28s %10s %16s %16s\n' "installer (same payload)" "setup size" "whole tree, s" "own process, s"
declare -A med
for name in "${names[@]}"; do
  med[$name]=$(median "${trees[$name]}")
  printf '%-28s %7.1f MB %16.2f %16.2f\n' "${label[$name]}" \
    "$(awk -v b="$(stat -c %s "$out/${size[$name]}")" 'BEGIN { print b / 1e6 }')" \
    "$(awk -v m="${med[$name]}" 'BEGIN { print m / 1000 }')" \
    "$(awk -v m="$(median "${procs[$name]}")" 'BEGIN { print m / 1000 }')"
done
echo
for name in nsis-zlib nsis-lzma msi; do
  # Per round as well: a ratio of the same round holds when the machine's speed drifts.
  per_round=$(paste -d' ' <(printf '%s\n' ${trees[zerda]}) <(printf '%s\n' ${trees[$name]}) | awk '{ print $1 / $2 }')
  printf 'ratio this setup / %-24s %.2f (median of the per-round ratios %.2f)\n' "${label[$name]}:" \
    "$(awk -v a="${med[zerda]}" -v b="${med[$name]}" 'BEGIN { print a / b }')" "$(median "$per_round")"
done
