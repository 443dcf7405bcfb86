#!/usr/bin/env bash
# Unpacks Debian's zlib source package (for contrib/minizip) into $1, once.
# The pinned version is the suite's original one: the security update's
# source files were missing on the mirror.
set -euo pipefail
DEST="$1"
ZLIB_VERSION="${ZLIB_SOURCE_VERSION:-1:1.2.13.dfsg-1}"
if [ -f "$DEST/contrib/minizip/unzip.c" ]; then exit 0; fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get source --download-only "zlib=$ZLIB_VERSION" >/dev/null 2>&1; then
  echo "apt-get source zlib=$ZLIB_VERSION failed; run scripts/install-deps.sh first (it enables source entries)" >&2
  exit 1
fi
dsc=$(ls zlib_*.dsc | head -n 1)
dpkg-source --no-check -x "$dsc" src >/dev/null
mkdir -p "$(dirname "$DEST")"
rm -rf "$DEST"
mv src "$DEST"
echo "zlib source unpacked into $DEST"
