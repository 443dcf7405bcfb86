#!/usr/bin/env bash
# Writes the benchmarks' payload into a new folder: the demo payload (drivers,
# programs, config.dsc, three fonts), 17 more UKIJ fonts, and COPIES times
# (default 1) 40 incompressible files of 200 KiB, 45 dictionary word lists of
# 480 KiB and 15 skins. COPIES=1 is 130 files, 34.5 MB; the same bytes each time.
#   scripts/bench/make-payload.sh DEMO_PAYLOAD FOLDER [COPIES]
set -euo pipefail
demo="$1" payload="$2" copies="${3:-1}"
rm -rf "$payload"
cp -r "$demo" "$payload"
mkdir -p "$payload/res" "$payload/dict" "$payload/colourful"
# Fonts beside the demo's three: the next smaller UKIJ faces, by name.
fontdir=/usr/share/fonts/truetype/fonts-ukij-uyghur
for f in $(ls "$fontdir" | grep -v -e '^UKIJCJK' -e '^UKIJTughra' -e '^UKIJTuT\.' -e '^UKIJTuz\.' -e '^UKIJTzTr\.' | head -17); do
  cp "$fontdir/$f" "$payload/\$fonts\$/"
done
# Incompressible: files of 200 KiB from a fixed key stream (the counter
# starts far apart, so no two files share a block).
for i in $(seq -w 1 $((40 * copies))); do
  head -c $((200 * 1024)) /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K 5a6572646142656e6368496e7374616c -iv "${i}000000000000000000000000000000" \
    > "$payload/res/pack$i.bin"
done
# Dictionaries: word lists of 480 KiB (word, reading, frequency).
for i in $(seq -w 1 $((45 * copies))); do
  awk -v seed="$i" -v limit=$((480 * 1024)) 'BEGIN {
      split("a e i o u ba de ge ha ja ka la ma na qa ra sa ta ya za bi di li mi ni si ti ul ur ush gh ng ch sh", s, " ")
      x = seed * 7919
      for (n = 0; bytes < limit; n++) {
        w = ""; k = 2 + n % 4
        for (j = 0; j < k; j++) { x = (x * 16807) % 2147483647; w = w s[1 + int(x / 65536) % 36] }
        line = sprintf("%s\t%s%s\t%d\n", w, toupper(substr(w, 1, 1)), substr(w, 2), x % 99991)
        printf "%s", line; bytes += length(line)
      }
    }' > "$payload/dict/words$i.txt"
done
# Skins: small files, part noise, part repeated pattern.
for i in $(seq -w 1 $((15 * copies))); do
  { head -c 8192 /dev/zero | openssl enc -aes-128-ctr -nosalt -K 736b696e736b696e736b696e736b696e -iv "${i}000000000000000000000000000000";
    for _ in $(seq 1 600); do printf 'skin %s colour table row 0123456789abcdef\n' "$i"; done; } > "$payload/colourful/skin$i.icc"
done
