#!/usr/bin/env bash
# Seed corpora for the fuzz targets, made from the demo payload by the
# packaging tool, and the regression inputs of earlier findings.
#   make_seeds.sh <packtool> <demo payload> <demo description> <out dir>
set -euo pipefail
tool="$1"; demo="$2"; description="$3"; out="$4"
rm -rf "$out"
mkdir -p "$out"/{config,setup_image,entry_name,zip} "$out/work"
work="$out/work"

# config.dsc: the demo's, one with every override, one with only the keys a product needs.
cp "$demo/\$dataFiles\$/config.dsc" "$out/config/demo.dsc"
"$tool" config "$description" "$out/config/agreement.dsc" agreement=1 ime_option_word=0x7000 comments=x
printf 'display_name = A\nime_name = B\ndefault_folder = C\ntext_service_guid = {00000000-0000-0000-0000-000000000001}\n' > "$work/min.txt"
"$tool" config "$work/min.txt" "$out/config/minimal.dsc"
cp "$description" "$out/config/description.txt"
cp "$work/min.txt" "$out/config/minimal.txt"

# Setups: a small PE32+ program of the demo standing in for the installer,
# with a payload of the configuration and the drivers' names.
small="$work/payload"
mkdir -p "$small/\$dataFiles\$" "$small/x86"
cp "$out/config/minimal.dsc" "$small/\$dataFiles\$/config.dsc"
# The demo's drivers: small PE files that the signed setup can sign.
cp "$demo/zerdaIME.ime" "$small/zerdaIME.ime"; cp "$demo/x86/zerdaIME.ime" "$small/x86/zerdaIME.ime"
"$tool" pack "$demo/config.exe" "$small" "$out/setup_image/small_setup.exe"
head -c 2048 "$out/setup_image/small_setup.exe" > "$out/setup_image/headers.exe"
cp "$demo/x86/zerdaIME.ime" "$work/pe32.dll" && head -c 4096 "$work/pe32.dll" > "$out/setup_image/pe32_headers.dll"
# A signed one, where osslsigncode is at hand: the signed-plain record and a PKCS#7 block.
root="$(cd "$(dirname "$0")/../.." && pwd)"
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  bash "$root/scripts/make-throwaway-cert.sh" "$work/cert" >/dev/null
  "$tool" pack "$demo/config.exe" "$small" "$out/setup_image/signed_setup.exe" \
    --cert "$work/cert/signer.pem" --key "$work/cert/signer.key"
fi

# Archives: the payloads of those setups, as the split leaves them.
for setup in "$out"/setup_image/*_setup.exe; do
  offset=$(od -A n -t u4 -j $(( $(od -A n -t u4 -j 60 -N 4 "$setup") + 128 )) -N 4 "$setup" | tr -d ' ')
  tail -c +$((offset + 1)) "$setup" > "$out/zip/$(basename "$setup" .exe).zip"
done

# Entry names: the demo payload's, as packed.
n=0
(cd "$demo" && find . -type f | sed 's|^\./||; s|/|\\|g') | while IFS= read -r name; do
  n=$((n + 1)); printf '%s' "$name" > "$out/entry_name/demo$n"
done

rm -rf "$work"
bash "$root/tests/fuzz/regressions.sh" "$out/regressions"
touch "$out/stamp"
