#!/usr/bin/env bash
# Draws the program's three icons (install, repair, uninstall: a rounded square
# in the icon's colour with a white circle) at every size a screen asks for,
# each size drawn for its own grid, and writes them as .ico files here.
# 16 is stored as a classic bitmap, every other size as PNG, which Windows
# reads from icons since Vista (the program needs 7) and which keeps them small.
# Needs ImageMagick. Run it again only when the drawing changes.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
classic=(16)
scaled=(20 24 32 40 48 64 72 96 256)

draw() {  # colour size file: geometry in pixel edges, ImageMagick wants pixel centres
  awk -v n="$2" 'BEGIN {
    inset = n * 2 / 48; corner = n * 9 / 48; radius = n * 12.5 / 48; c = (n - 1) / 2
    printf "roundrectangle %.3f,%.3f %.3f,%.3f %.3f,%.3f\n", inset + 0.5, inset + 0.5, n - inset - 0.5, n - inset - 0.5, corner, corner
    printf "circle %.3f,%.3f %.3f,%.3f\n", c, c, c + radius, c }' > "$work/shape"
  convert -size "$2x$2" xc:none -fill "$1" -draw "$(sed -n 1p "$work/shape")" \
    -fill white -draw "$(sed -n 2p "$work/shape")" -strip -define png:exclude-chunks=date,time \
    -define png:compression-level=9 -define png:compression-filter=1 -define png:compression-strategy=0 "PNG32:$3"
}
le() { local v=$1 n=$2 i; for ((i = 0; i < n; i++)); do printf "\\x$(printf %02x $(((v >> (8 * i)) & 255)))"; done; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }

make_icon() {  # colour output
  local colour=$1 out=$2 s count offset i size at
  for s in "${classic[@]}" "${scaled[@]}"; do draw "$colour" "$s" "$work/$s.png"; done
  convert $(for s in "${classic[@]}"; do echo "$work/$s.png"; done) "$work/classic.ico"
  count=$((${#classic[@]} + ${#scaled[@]}))
  offset=$((6 + 16 * count))
  { le 0 2; le 1 2; le "$count" 2
    for ((i = 0; i < ${#classic[@]}; i++)); do
      head -c $((6 + 16 * i + 8)) "$work/classic.ico" | tail -c 8   # size, colours, planes, bits
      size=$(u32 "$work/classic.ico" $((6 + 16 * i + 8)))
      le "$size" 4; le "$offset" 4; offset=$((offset + size))
    done
    for s in "${scaled[@]}"; do
      size=$(stat -c %s "$work/$s.png")
      le $((s & 255)) 1; le $((s & 255)) 1; le 0 2; le 1 2; le 32 2; le "$size" 4; le "$offset" 4
      offset=$((offset + size))
    done
    for ((i = 0; i < ${#classic[@]}; i++)); do
      at=$(u32 "$work/classic.ico" $((6 + 16 * i + 12)))
      tail -c +$((at + 1)) "$work/classic.ico" | head -c "$(u32 "$work/classic.ico" $((6 + 16 * i + 8)))"
    done
    for s in "${scaled[@]}"; do cat "$work/$s.png"; done
  } > "$out"
}

make_icon '#1E6FD9' install.ico
make_icon '#2E9E4F' repair.ico
make_icon '#C0392B' uninstall.ico
