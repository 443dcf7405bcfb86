#!/usr/bin/env bash
# Unpacks a Debian source package into DEST, once (when DEST holds no MARKER).
#   fetch-source.sh PACKAGE=VERSION DEST MARKER
# The versions are pinned: zlib's is the suite's original one (the security
# update's source files were missing on the mirror).
set -euo pipefail
PACKAGE="$1"
DEST="$2"
MARKER="$3"
if [ -f "$DEST/$MARKER" ]; then exit 0; fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get source --download-only "$PACKAGE" >/dev/null 2>&1; then
  echo "apt-get source $PACKAGE failed; run scripts/install-deps.sh first (it enables source entries)" >&2
  exit 1
fi
dsc=$(ls ./*.dsc | head -n 1)
dpkg-source --no-check -x "$dsc" src >/dev/null
mkdir -p "$(dirname "$DEST")"
rm -rf "$DEST"
mv src "$DEST"
echo "${PACKAGE%%=*} source unpacked into $DEST"
