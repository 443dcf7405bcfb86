#!/usr/bin/env bash
# A throwaway certificate authority and code-signing certificate, for trying
# out signed releases (never for shipping): writes into DIR
#   ca.pem                the authority (verify with: osslsigncode verify -CAfile DIR/ca.pem -in FILE)
#   signer.pem signer.key the code-signing certificate and its key, valid for two days
#   signer.p12            both as PKCS#12, password "demo"
set -euo pipefail
dir="${1:?usage: make-throwaway-cert.sh DIR}"
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Zerda Test CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >leaf.ext
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=Zerda Test Signer/O=Zerda Test" 2>/dev/null
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile leaf.ext \
  -out signer.pem 2>/dev/null
openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem -out signer.p12 -passout pass:demo
echo "throwaway certificate in $dir (signer.pem, signer.key, signer.p12; authority ca.pem)"
