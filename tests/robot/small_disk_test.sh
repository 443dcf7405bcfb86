#!/usr/bin/env bash
# Gives the Wine prefix a small drive E: (a tmpfs of its own, 4 MB) and runs
# the full-disk test on it. Needs root for the mount; without it the test is
# skipped (exit 77). A mount left by a crashed run is taken down first.
#   small_disk_test.sh MOUNT_DIR TEST_EXE WINE_RUN
set -u
mnt="$1"; test_exe="$2"; wine_run="$3"
: "${WINEPREFIX:?}"
link="$WINEPREFIX/dosdevices/e:"

cleanup() {
  rm -f "$link"
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
}
trap cleanup EXIT

mkdir -p "$mnt"
while mountpoint -q "$mnt"; do umount "$mnt" 2>/dev/null || umount -l "$mnt" || break; done
if ! mount -t tmpfs -o size=4m zerda-small-disk "$mnt" 2>/dev/null; then
  echo "SKIPPED: a small file system cannot be mounted here (needs root)"
  exit 77
fi
rm -f "$link"
ln -s "$mnt" "$link"
"$wine_run" "$test_exe"
