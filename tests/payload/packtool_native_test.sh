#!/usr/bin/env bash
# The native packaging tool: config layout, packing, inspection and errors.
#   packtool_native_test.sh <packtool> <installer.exe> <a PE32 file> <description> <demo payload>
set -u
tool="$1"; installer="$2"; pe32="$3"; description="$4"; demo="$5"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
u32() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
u16() { od -A n -t u2 -j "$2" -N 2 "$1" | tr -d ' '; }
hex() { od -v -A n -t x1 -j "$2" -N "$3" "$1" | tr -d ' \n'; }
# Expects a non-zero exit, a message on stderr and no file at $1.
expect_error() {
  local out="$1"; shift
  if "$@" >"$work/stdout" 2>"$work/stderr"; then fail "succeeded: $*"; fi
  [ -s "$work/stderr" ] || fail "no message: $*"
  [ -e "$out" ] && fail "left $out behind: $*"
  ls "$(dirname "$out")" | grep -q partial && fail "left a partial file: $*"
  return 0
}
# A pack the setup would fail with: refused with one line naming the file ($2).
expect_refusal() {
  local what="$1" file="$2"; shift 2
  expect_error "$work/refused.exe" "$tool" pack "$installer" "$@" "$work/refused.exe"
  [ "$(wc -l < "$work/stderr")" = 1 ] || fail "$what: not one line: $(cat "$work/stderr")"
  grep -qF -- "$file" "$work/stderr" || fail "$what: message does not name $file: $(cat "$work/stderr")"
}

# --- config ---
cfg="$work/config.dsc"
"$tool" config "$description" "$cfg" || fail "config from the demo description"
[ "$(stat -c %s "$cfg")" = 29476 ] || fail "config size $(stat -c %s "$cfg")"
[ "$(u32 "$cfg" 0)" = 4 ] || fail "record count"
expected_offsets=(140 11376 24592 25180); sizes=(11236 13216 588 4296)
names=(zd_ime_config_data_default zd_dme_config_data_default zd_skin_config_data_default zd_soft_config_data_default)
for i in 0 1 2 3; do
  off=$(u32 "$cfg" $((4 + 4 * i)))
  [ "$off" = "${expected_offsets[$i]}" ] || fail "offset $i: $off"
  [ "$(u32 "$cfg" "$off")" = "${sizes[$i]}" ] || fail "size of record $i"
  [ "$(u16 "$cfg" $((off + 4)))" = $((i + 1)) ] || fail "kind of record $i"
  name=$(dd if="$cfg" bs=1 skip=$((off + 6)) count=130 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | tr -d '\0')
  [ "$name" = "${names[$i]}" ] || fail "name of record $i: $name"
done
[ "$(hex "$cfg" 20 120)" = "$(printf '00%.0s' $(seq 120))" ] || fail "bytes between table and first record"
soft=25180; ime=140
[ "$(dd if="$cfg" bs=1 skip=$((soft + 296)) count=16 2>/dev/null | iconv -f UTF-16LE -t UTF-8)" = VarekIME ] || fail "ime name"
[ "$(hex "$cfg" $((soft + 296 + 16)) 64)" = "$(printf '00%.0s' $(seq 64))" ] || fail "ime name slot not zero-filled"
[ "$(hex "$cfg" $((soft + 456)) 16)" = 1d4e3c7a2f5b8a4c9e612d0f3b8a4c57 ] || fail "guid bytes $(hex "$cfg" $((soft + 456)) 16)"
[ "$(u16 "$cfg" $((soft + 552)))" = $((0x0804)) ] || fail "language id"
[ "$(u32 "$cfg" $((soft + 3584)))" = $((0x19E0)) ] || fail "engine flags"
[ "$(hex "$cfg" $((soft + 3588)) 1)" = 00 ] || fail "agreement flag"
[ "$(u32 "$cfg" $((ime + 148)))" = $((0x5129)) ] || fail "capability word"
dn=$(dd if="$cfg" bs=1 skip=$((soft + 136)) count=80 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | tr -d '\0')
ln=$(dd if="$cfg" bs=1 skip=$((soft + 216)) count=80 2>/dev/null | iconv -f UTF-16LE -t UTF-8 | tr -d '\0')
grep -q "^display_name = $dn\$" "$description" || fail "display name not UTF-16 of the description: $dn"
[ "$dn" = "$ln" ] || fail "language name differs"
# Everything outside the written fields is zero: compare with a description
# holding only the required keys plus the defaults.
printf 'display_name = A\nime_name = B\ndefault_folder = C\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/min.txt"
"$tool" config "$work/min.txt" "$work/min.dsc" || fail "minimal description"
nonzero=$(od -A n -t u1 -v "$work/min.dsc" | tr -s ' ' '\n' | grep -cv '^0*$')
# count(1) + 4 offsets (8 non-zero bytes) + 4 headers (size 2 + kind 1 + name bytes) + 3 fields
[ "$nonzero" -lt 200 ] || fail "minimal config has $nonzero non-zero bytes"
"$tool" config "$description" "$work/ovr.dsc" agreement=1 ime_option_word=0x7000 || fail "overrides"
[ "$(hex "$work/ovr.dsc" $((soft + 3588)) 1)" = 01 ] || fail "override agreement"
[ "$(u32 "$work/ovr.dsc" $((ime + 136)))" = $((0x7000)) ] || fail "override option word"
"$tool" inspect "$cfg" > "$work/inspect.txt" || fail "inspect config"
grep -q 'text_service_guid = {7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}' "$work/inspect.txt" || fail "inspect guid"
grep -q '^product code: {7A3C4E1D-5B2F-4C8A-9E61-2D0F3B8A4C57}' "$work/inspect.txt" || fail "inspect product code"
grep -q 'engine_flags = 0x000019E0' "$work/inspect.txt" || fail "inspect flags"

# Description errors.
expect_error "$work/x.dsc" "$tool" config "$work/missing.txt" "$work/x.dsc"
printf 'display_nam = A\n' > "$work/bad1.txt"; expect_error "$work/x.dsc" "$tool" config "$work/bad1.txt" "$work/x.dsc"
grep -q 'bad1.txt:1' "$work/stderr" || fail "error does not name the line"
printf 'display_name = %s\nime_name = B\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' \
  "$(printf 'x%.0s' $(seq 40))" > "$work/bad2.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad2.txt" "$work/x.dsc"
printf 'display_name = A\nime_name = B\ntext_service_guid = 7A3C4E1D\n' > "$work/bad3.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad3.txt" "$work/x.dsc"
printf 'display_name = A\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad4.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad4.txt" "$work/x.dsc"
printf 'display_name = A\nime_name = B\nlanguage_id = 0x10000\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad5.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad5.txt" "$work/x.dsc"
printf 'display_name = \xff\xfe\nime_name = B\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad6.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad6.txt" "$work/x.dsc"
# An IME name the setup would read as empty (found by fuzzing).
printf 'display_name = A\nime_name =\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad7.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad7.txt" "$work/x.dsc"
printf 'display_name = A\nime_name = \0B\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad8.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad8.txt" "$work/x.dsc"
grep -q 'zero character' "$work/stderr" || fail "zero in a text: $(cat "$work/stderr")"
printf 'display_name = A\nime_name = ..\\x\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad9.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad9.txt" "$work/x.dsc"
grep -q 'ime_name: the IME name' "$work/stderr" || fail "climbing IME name: $(cat "$work/stderr")"
# The data folder of an IME named Logs would be the setup's log folder.
printf 'display_name = A\nime_name = LOGS\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/bad10.txt"
expect_error "$work/x.dsc" "$tool" config "$work/bad10.txt" "$work/x.dsc"
grep -q "the IME name is Logs" "$work/stderr" || fail "IME name Logs: $(cat "$work/stderr")"
# A failed run keeps an existing output as it was.
cp "$cfg" "$work/keep.dsc"
"$tool" config "$work/bad1.txt" "$work/keep.dsc" 2>/dev/null && fail "bad description accepted"
cmp -s "$cfg" "$work/keep.dsc" || fail "existing output changed by a failed run"

# --- pack ---
pl="$work/payload"
mkdir -p "$pl/\$dataFiles\$" "$pl/tools" "$pl/sub/deeper" "$pl/x86"
cp "$cfg" "$pl/\$dataFiles\$/config.dsc"
echo driver64 > "$pl/zerdaIME.ime"; echo driver32 > "$pl/x86/zerdaIME.ime"
head -c 300000 /dev/urandom > "$pl/tools/random.bin"
yes zerda | head -c 200000 > "$pl/sub/deeper/text.txt"
: > "$pl/empty.txt"
setup="$work/setup.exe"
"$tool" pack "$installer" "$pl" "$setup" 2> "$work/warnings.txt" || fail "pack"
# Drivers that are no input-method drivers pack, with one warning each naming the file.
[ "$(grep -c 'no version resource, not an input-method driver' "$work/warnings.txt")" = 2 ] &&
  grep -qF "$pl/zerdaIME.ime:" "$work/warnings.txt" && grep -qF "$pl/x86/zerdaIME.ime:" "$work/warnings.txt" ||
  fail "driver warnings: $(cat "$work/warnings.txt")"
isize=$(stat -c %s "$installer")
pe=$(u32 "$installer" 60)
[ "$(u32 "$setup" $((pe + 128)))" = "$isize" ] || fail "LoaderFlags is not the installer size"
cmp -s -n $((pe + 128)) "$installer" "$setup" || fail "installer head changed"
cmp -s -i $((pe + 132)) -n $((isize - pe - 132)) "$installer" "$setup" || fail "installer tail changed"
tail -c +$((isize + 1)) "$setup" > "$work/alone.zip"
unzip -t "$work/alone.zip" > /dev/null || fail "the appended archive does not stand alone"
listing=$(unzip -Z1 "$work/alone.zip" | sort | tr '\n' ' ')
[ "$listing" = '$dataFiles$\config.dsc empty.txt sub\deeper\text.txt tools\random.bin x86\zerdaIME.ime zerdaIME.ime ' ] ||
  fail "entries: $listing"
mkdir "$work/x" && (cd "$work/x" && unzip -q "$work/alone.zip" 2>/dev/null)
for f in '$dataFiles$/config.dsc' empty.txt sub/deeper/text.txt tools/random.bin; do
  bs=$(echo "$f" | tr / '\\')
  got="$work/x/$bs"; [ -e "$got" ] || got="$work/x/$f"
  cmp -s "$pl/$f" "$got" || fail "content of $f"
done
"$tool" inspect "$setup" > "$work/inspect2.txt" || fail "inspect setup"
grep -q "payload offset (LoaderFlags): $isize" "$work/inspect2.txt" || fail "inspect offset"
grep -q 'entries: 6' "$work/inspect2.txt" || fail "inspect entry count"
grep -q 'ime_name = "VarekIME"' "$work/inspect2.txt" || fail "inspect decoded config"
# The demo's drivers say input-method driver: no warning, and inspect shows
# each driver's file type; a program under a driver's name is named.
mkdir -p "$work/real/x86" "$work/real/\$dataFiles\$"
cp "$cfg" "$work/real/\$dataFiles\$/config.dsc"
cp "$demo/zerdaIME.ime" "$work/real/zerdaIME.ime"; cp "$demo/x86/zerdaIME.ime" "$work/real/x86/zerdaIME.ime"
"$tool" pack "$installer" "$work/real" "$work/real.exe" 2> "$work/warnings.txt" || fail "pack the demo drivers"
grep -q 'input-method driver' "$work/warnings.txt" && fail "warning for the demo drivers: $(cat "$work/warnings.txt")"
"$tool" inspect "$work/real.exe" > "$work/inspect3.txt" || fail "inspect the demo drivers"
[ "$(grep -c 'file type: input-method driver (VFT_DRV, VFT2_DRV_INPUTMETHOD)' "$work/inspect3.txt")" = 2 ] ||
  fail "inspect file types: $(cat "$work/inspect3.txt")"
cp "$installer" "$work/real/x86/zerdaIME.ime"
"$tool" pack "$installer" "$work/real" "$work/real.exe" 2> "$work/warnings.txt" || fail "pack a program as driver"
[ "$(grep -c 'input-method driver' "$work/warnings.txt")" = 1 ] && grep -qF "$work/real/x86/zerdaIME.ime: application (VFT_APP)" "$work/warnings.txt" ||
  fail "program as driver: $(cat "$work/warnings.txt")"
"$tool" inspect "$work/real.exe" | grep -q 'file type: application (VFT_APP)' || fail "inspect a program as driver"
# Packing a packed setup again starts from its plain part.
"$tool" pack "$setup" "$pl" "$work/again.exe" || fail "pack a packed setup"
[ "$(u32 "$work/again.exe" $((pe + 128)))" = "$isize" ] || fail "repacked offset"

# Pack errors: nothing written, message given.
expect_error "$work/o1.exe" "$tool" pack "$work/missing.exe" "$pl" "$work/o1.exe"
expect_error "$work/o1.exe" "$tool" pack "$description" "$pl" "$work/o1.exe"
expect_error "$work/o1.exe" "$tool" pack "$pe32" "$pl" "$work/o1.exe"
grep -q 'PE32+' "$work/stderr" || fail "PE32 installer message"
expect_error "$work/o1.exe" "$tool" pack "$installer" "$work/nofolder" "$work/o1.exe"
touch "$pl/$(printf 'n%.0s' $(seq 63)).txt"   # 67 bytes
expect_error "$work/o1.exe" "$tool" pack "$installer" "$pl" "$work/o1.exe"
grep -q '64 bytes' "$work/stderr" || fail "long-name message"
rm "$pl/$(printf 'n%.0s' $(seq 63)).txt"
touch "$pl/$(printf 'n%.0s' $(seq 59)).txt"   # 63 bytes: fits
"$tool" pack "$installer" "$pl" "$work/o2.exe" || fail "63-byte name refused"
cp "$setup" "$work/keep.exe"
touch "$pl/$(printf 'n%.0s' $(seq 61)).txt"   # 65 bytes
"$tool" pack "$installer" "$pl" "$work/keep.exe" 2>/dev/null && fail "long name accepted"
cmp -s "$setup" "$work/keep.exe" || fail "existing setup changed by a failed pack"
expect_error "$work/o3.exe" "$tool" inspect "$work/nothing.exe"
rm "$pl/$(printf 'n%.0s' $(seq 61)).txt" "$pl/$(printf 'n%.0s' $(seq 59)).txt"

# What the setup would refuse on the user's machine is refused at pack time.
mv "$pl/x86/zerdaIME.ime" "$work/d32"
expect_refusal "32-bit driver" "x86/zerdaIME.ime" "$pl"
# A driver named after the product: the fixed name and ime_name's part are told.
mv "$work/d32" "$pl/x86/zerdaIME.ime"; mv "$pl/zerdaIME.ime" "$pl/VarekIME.ime"
expect_refusal "64-bit driver" "payload/zerdaIME.ime" "$pl"
grep -qF 'ime_name "VarekIME" names only the copies placed in the system folders (System32\VarekIME.ime' "$work/stderr" &&
  grep -qF 'Found VarekIME.ime: rename it to zerdaIME.ime' "$work/stderr" || fail "driver hint: $(cat "$work/stderr")"
mv "$pl/VarekIME.ime" "$work/d64"
# Windows names are case-blind: the driver under another case is the driver.
mv "$work/d64" "$pl/ZERDAime.IME"
"$tool" pack "$installer" "$pl" "$work/case.exe" || fail "driver name in another case refused"
mv "$pl/ZERDAime.IME" "$pl/zerdaIME.ime"
mv "$pl/\$dataFiles\$/config.dsc" "$work/c.dsc"
expect_refusal "no config" 'config.dsc' "$pl"
# The tool packs it anyway when told that the setup is meant to fail.
"$tool" pack --allow-incomplete "$installer" "$pl" "$work/incomplete.exe" 2>/dev/null || fail "--allow-incomplete"
head -c 3 "$work/c.dsc" > "$pl/\$dataFiles\$/config.dsc"
expect_refusal "config cut short" 'config.dsc' "$pl"
grep -q 'would not load' "$work/stderr" || fail "cut config: $(cat "$work/stderr")"
cp "$work/c.dsc" "$pl/\$dataFiles\$/config.dsc"
printf 'X' | dd of="$pl/\$dataFiles\$/config.dsc" bs=1 seek=$((soft + 6)) conv=notrunc 2>/dev/null
expect_refusal "no product record" 'zd_soft_config_data_default' "$pl"
cp "$work/c.dsc" "$pl/\$dataFiles\$/config.dsc"
printf '\x01\x00' | dd of="$pl/\$dataFiles\$/config.dsc" bs=1 seek=$((soft + 2)) conv=notrunc 2>/dev/null
expect_refusal "product record larger than the setup keeps" 'zd_soft_config_data_default' "$pl"
cp "$work/c.dsc" "$pl/\$dataFiles\$/config.dsc"
dd if=/dev/zero of="$pl/\$dataFiles\$/config.dsc" bs=1 seek=$((soft + 296)) count=2 conv=notrunc 2>/dev/null
expect_refusal "empty IME name" 'config.dsc' "$pl"
cp "$work/c.dsc" "$pl/\$dataFiles\$/config.dsc"
# The IME name names the drivers and the data folder: a plain file name only.
for bad in '..\Windows\System32\x' 'a/b' 'tail.' ' lead' 'CON' 'a:b' 'a..b'; do
  printf '%s\0' "$bad" | iconv -f UTF-8 -t UTF-16LE |
    dd of="$pl/\$dataFiles\$/config.dsc" bs=1 seek=$((soft + 296)) conv=notrunc 2>/dev/null
  expect_refusal "IME name $bad" 'config.dsc' "$pl"
  grep -q 'IME name' "$work/stderr" || fail "IME name $bad: $(cat "$work/stderr")"
  cp "$work/c.dsc" "$pl/\$dataFiles\$/config.dsc"
done
"$tool" inspect "$work/c.dsc" | grep -q '^setup: loads it' || fail "inspect does not say the setup loads the config"
# Names the setup would not write: climbing through ".. ", a stream colon,
# characters and device names Windows refuses.
for bad in '.. /x.txt' 'a:b.txt' 'what?.txt' 'sub/CON.txt' 'tail.'; do
  mkdir -p "$pl/$(dirname "$bad")"; echo x > "$pl/$bad"
  expect_refusal "name $bad" "$(basename "$bad")" "$pl"
  rm -f "$pl/$bad"; [ "$(dirname "$bad")" = . ] || rmdir "$pl/$(dirname "$bad")" 2>/dev/null
done
# Sizes beyond the setup's 32 bits, without reading the (sparse) files.
truncate -s 2147483648 "$pl/huge.bin"
expect_refusal "a 2 GiB entry" 'huge.bin' "$pl"
truncate -s 1200000000 "$pl/huge.bin"; truncate -s 1200000000 "$pl/zhuge.bin"
expect_refusal "2.4 GB in all" 'huge.bin' "$pl"
rm "$pl/huge.bin" "$pl/zhuge.bin"
"$tool" pack "$installer" "$pl" "$work/fine.exe" || fail "the payload is refused after the cases"
head -c 1000 "$setup" > "$work/cut.exe"
"$tool" inspect "$work/cut.exe" > /dev/null 2>&1 && fail "inspect of a cut setup succeeded"

# What the setup cannot install is refused by config and by pack, naming the
# key; what installs only in part is warned about; --allow-incomplete keeps it.
while IFS='|' read -r override kind text; do
  "$tool" config "$description" "$work/p.dsc" "$override" 2> "$work/stderr"; rc=$?
  case "$kind" in
    refused)
      [ $rc != 0 ] && [ ! -e "$work/p.dsc" ] && grep -qF ": refused: $text" "$work/stderr" ||
        fail "config $override: $(cat "$work/stderr")"
      "$tool" config "$description" "$work/p.dsc" "$override" --allow-incomplete 2>/dev/null || fail "kept: $override"
      cp "$work/p.dsc" "$pl/\$dataFiles\$/config.dsc"
      expect_refusal "pack $override" "$text" "$pl"
      "$tool" pack --allow-incomplete "$installer" "$pl" "$work/kept.exe" 2>/dev/null || fail "packed anyway: $override" ;;
    warned)
      [ $rc = 0 ] && grep -qF "warning: $description: $text" "$work/stderr" || fail "config $override: $(cat "$work/stderr")" ;;
    fine) [ $rc = 0 ] && [ ! -s "$work/stderr" ] || fail "config $override: $(cat "$work/stderr")" ;;
  esac
  rm -f "$work/p.dsc"
done <<'EOF'
default_folder=|refused|default_folder "" is empty
default_folder=Zerda\..|refused|default_folder "Zerda\.." holds a "." or ".." part
default_folder=common files|refused|default_folder "common files" is Program Files\Common Files
default_folder=Zerda?|refused|default_folder "Zerda?" holds a character Windows does not allow
text_service_guid={00000000-0000-0000-0000-000000000000}|refused|text_service_guid is the null GUID
ime_capability_word=0x4129|warned|ime_capability_word 0x00004129 lacks bit 0x1000 (text service)
display_name=Zerda*Name|warned|display_name "Zerda*Name" cannot name a folder
language_name=|warned|language_name is empty
default_folder=Zerda\Kazakh|fine|
EOF
# What the configuration names and the payload lacks.
"$tool" config "$description" "$pl/\$dataFiles\$/config.dsc" agreement=1 tool_uninstall_command='{appPath}\gone.exe /x'
"$tool" pack "$installer" "$pl" "$work/use.exe" 2> "$work/stderr" || fail "pack with use warnings"
for w in 'make shortcuts to config.exe' 'make a shortcut to main.chm' 'tool_install_command names tools\varekinputtool.exe,' \
         'tool_uninstall_command names gone.exe,' 'neither License.html nor main.chm' 'start-up entry "VarekNews"'; do
  grep -qF "$w" "$work/stderr" || fail "no warning \"$w\": $(cat "$work/stderr")"
done
cp "$cfg" "$pl/\$dataFiles\$/config.dsc"

# A product to start from: every key, the names given, a fresh GUID each time;
# from the demo's payload it packs as it is, without a word.
"$tool" new "$work/kz" --from "$demo" 'display_name=Қазақ пернетақтасы' ime_name=QazaqIME language_id=0x043F \
  > /dev/null || fail "new --from"
"$tool" new "$work/kz2" > /dev/null || fail "new"
for key in $("$tool" 2>&1 | sed -n '/^description keys/,$ s/^  \([a-z_]*\)[ :].*/\1/p'); do
  grep -q "^$key =" "$work/kz/product.txt" || fail "new: no key $key"
done
g1=$(sed -n 's/^text_service_guid = //p' "$work/kz/product.txt"); g2=$(sed -n 's/^text_service_guid = //p' "$work/kz2/product.txt")
[ "$g1" != "$g2" ] && echo "$g1" | grep -Eq '^\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\}$' ||
  fail "fresh GUIDs: $g1 $g2"
"$tool" config "$work/kz/product.txt" "$work/kz.dsc" && cmp -s "$work/kz.dsc" "$work/kz/payload/\$dataFiles\$/config.dsc" ||
  fail "new's config.dsc is not its description's"
"$tool" pack "$installer" "$work/kz/payload" "$work/kz.exe" 2> "$work/stderr" && [ ! -s "$work/stderr" ] ||
  fail "pack a new product: $(cat "$work/stderr")"
"$tool" inspect "$work/kz.exe" | grep -q 'ime_name = "QazaqIME"' || fail "inspect the new product"
expect_refusal "new product without drivers" 'ime_name "MyIME"' "$work/kz2/payload"
cp "$work/kz/product.txt" "$work/keep.txt"
"$tool" new "$work/kz" 2>/dev/null && fail "new over an existing product"
cmp -s "$work/kz/product.txt" "$work/keep.txt" || fail "new changed an existing product"

# The demo's help file is a real CHM that holds the agreement page.
[ "$(head -c 4 "$demo/main.chm")" = ITSF ] || fail "main.chm is not a CHM"
grep -aq '/License.html' "$demo/main.chm" || fail "main.chm lacks License.html"

if [ "$failures" -ne 0 ]; then echo "$failures failure(s)"; exit 1; fi
echo "packtool native test passed"
