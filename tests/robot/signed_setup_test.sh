#!/usr/bin/env bash
# Signed releases end to end: a throwaway CA and code-signing certificate made
# here, the demo payload signed by packtool and checked with osslsigncode, the
# bad inputs, then the Wine run (signed_install_test.exe), whose placed files
# are verified as well.
#   signed_setup_test.sh <packtool> <installer.exe> <demo payload> <work dir> <signed_install_test.exe> <wine-run.sh>
set -u
tool="$1"; installer="$2"; payload="$3"; work="$4"; winetest="$5"; winerun="$6"
rm -rf "$work"; mkdir -p "$work/placed"
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
u32() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
cert_at() { local pe; pe=$(u32 "$1" 60); u32 "$1" $((pe + 24 + 112 + 32)); }
# Verifies against the throwaway CA; a wrong checksum counts as a failure.
verify() {
  osslsigncode verify -CAfile ca.pem -in "$1" >"$1.verify" 2>&1 && ! grep -q "invalid PE checksum" "$1.verify"
}
tree_sums() { (cd "$1" && find . -type f -exec md5sum {} + | sort); }

# --- throwaway certificates: a CA and a code-signing leaf, then an expired leaf ---
"$(dirname "$winerun")/make-throwaway-cert.sh" "$work" >/dev/null || fail "throwaway certificate"
# Valid until a day before it was made.
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days -1 -extfile leaf.ext \
  -out expired.pem 2>/dev/null || fail "expired leaf"
openssl genrsa -out other.key 2048 2>/dev/null
echo "not a certificate" >garbage.pem

# --- signing: the setup, the plain installer and every PE file of the payload ---
before=$(tree_sums "$payload")
"$tool" pack "$installer" "$payload" signed.exe --cert signer.pem --key signer.key || fail "pack signed"
[ "$before" = "$(tree_sums "$payload")" ] || fail "the payload folder was changed"
verify signed.exe || fail "signed setup does not verify: $(tail -3 signed.exe.verify)"
"$tool" inspect signed.exe >inspect.txt || fail "inspect signed setup"
grep -q "^signature: signed by CN=Zerda Test Signer, O=Zerda Test$" inspect.txt || fail "inspect: setup signer"
grep -q "^signature covers the payload: yes" inspect.txt || fail "inspect: coverage"
[ "$(grep -c "^ *signed by CN=Zerda Test Signer, O=Zerda Test, digest matches$" inspect.txt)" = 4 ] ||
  fail "inspect: the payload's four PE files signed"
grep -q "not signed" inspect.txt && fail "inspect: something not signed"
"$tool" pack "$installer" "$payload" signed-p12.exe --pkcs12 signer.p12 --password demo || fail "pack with pkcs12"
verify signed-p12.exe || fail "pkcs12-signed setup does not verify"
"$tool" pack "$installer" "$payload" unsigned.exe || fail "pack unsigned"
grep -q "^signature: not signed$" <("$tool" inspect unsigned.exe) || fail "inspect: unsigned setup"

# One changed payload byte breaks the setup's signature.
offset=$(u32 signed.exe $(($(u32 signed.exe 60) + 24 + 104)))
cp signed.exe changed.exe
printf '\x5A' | dd of=changed.exe bs=1 seek=$((offset + 1000)) conv=notrunc 2>/dev/null
cmp -s signed.exe changed.exe && fail "byte not changed"
verify changed.exe && fail "a changed payload byte still verifies"
"$tool" inspect changed.exe | grep -q "^signature covers the payload: no (digest does not match" ||
  fail "inspect: changed payload"

# Damaged and cut signature blocks, for the Wine run.
at=$(cert_at signed.exe)
cp signed.exe damaged.exe
printf '\x00\x00' | dd of=damaged.exe bs=1 seek=$((at + 4)) conv=notrunc 2>/dev/null
head -c $(($(stat -c %s signed.exe) - 100)) signed.exe >truncated.exe

# --- bad input: one line naming the file, non-zero exit, no output ---
bad() {  # expected-name, pack arguments...
  local name="$1"; shift
  if PATH="${PACK_PATH:-$PATH}" "$tool" pack "$installer" "${PAYLOAD:-$payload}" out.exe "$@" >stdout 2>stderr; then
    fail "succeeded: $*"
  fi
  [ "$(wc -l <stderr)" = 1 ] || fail "not one line ($*): $(cat stderr)"
  grep -q -- "$name" stderr || fail "message does not name $name: $(cat stderr)"
  ls | grep -q -e '^out.exe' && fail "left output behind: $*"
  return 0
}
bad other.key --cert signer.pem --key other.key
bad signer.p12 --pkcs12 signer.p12 --password wrong
bad missing.pem --cert missing.pem --key signer.key
bad garbage.pem --cert garbage.pem --key signer.key
bad expired.pem --cert expired.pem --key signer.key
PACK_PATH=/nonexistent bad osslsigncode --cert signer.pem --key signer.key
cp -r "$payload" bad-payload && echo "not a program" >bad-payload/broken.dll
PAYLOAD=bad-payload bad broken.dll --cert signer.pem --key signer.key

# --- under Wine: split, damaged setups, the install; then the placed files ---
ZERDA_SIGNING_DIR="Z:$(echo "$work" | sed 's|/|\\|g')" "$winerun" "$winetest" || fail "Wine run"
for f in work-installer.exe installer.exe ime64.ime ime32.ime config.exe varekinputtool.exe; do
  if [ ! -f "placed/$f" ]; then fail "not placed: $f"; continue; fi
  verify "placed/$f" || fail "placed $f does not verify: $(tail -3 "placed/$f.verify")"
done
cmp -s placed/work-installer.exe placed/installer.exe || fail "installed installer.exe differs from the work folder's"

[ "$failures" = 0 ] && echo "signed setup test passed"
exit $((failures > 0))
