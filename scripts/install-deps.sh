#!/usr/bin/env bash
# Installs every package the build, the tests and the demo need (Debian 12).
# Safe to run again: apt skips what is there.
#   install-deps.sh --bench   also the peer installer builders that
#                             scripts/bench-install.sh compares against
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"

PKGS=(cmake make g++ g++-mingw-w64-x86-64 g++-mingw-w64-i686 libz-mingw-w64-dev
      wine64 wine xvfb x11-utils imagemagick libminizip-dev zlib1g-dev googletest
      fonts-ukij-uyghur dpkg-dev unzip osslsigncode openssl clang-14 libclang-rt-14-dev fp-utils)
BENCH_PKGS=(nsis wixl)
[ "${1:-}" != "--bench" ] || PKGS+=("${BENCH_PKGS[@]}")

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Source entries are needed for `apt-get source` of zlib (minizip lives in its
# contrib folder) and of libdeflate (its decompressor decodes the payload).
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  if grep -q '^Types: deb$' "$f"; then
    $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    SRC_CHANGED=1
  fi
done
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && ! grep -q '^deb-src ' /etc/apt/sources.list; then
  sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $SUDO tee -a /etc/apt/sources.list >/dev/null
  SRC_CHANGED=1
fi
if [ "${SRC_CHANGED:-0}" = 1 ]; then $SUDO apt-get update; fi
echo "dependencies ready"
