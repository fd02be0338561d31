#!/bin/sh
# Mounts the test filesystems under DIR (needs mount rights; without them
# the folders are missing and the tests that need them skip):
#   DIR/full      a 64 kB tmpfs, nearly full
#   DIR/readonly  a tmpfs mounted read-only
#   mount_test_disks.sh DIR [--unmount]
set -u
DIR="$1"
mkdir -p "$DIR"
for d in full readonly; do
  while mountpoint -q "$DIR/$d" 2>/dev/null; do umount "$DIR/$d" || break; done
  [ -d "$DIR/$d" ] && rmdir "$DIR/$d" 2>/dev/null
done
[ "${2:-}" = "--unmount" ] && exit 0
mkdir -p "$DIR/full" "$DIR/readonly"
if mount -t tmpfs -o size=64k tmpfs "$DIR/full" 2>/dev/null; then
  head -c 40000 /dev/zero > "$DIR/full/filler"
else
  rmdir "$DIR/full"
  echo "cannot mount a tmpfs here: the full-disk case will skip"
fi
if ! mount -t tmpfs -o size=64k,ro tmpfs "$DIR/readonly" 2>/dev/null; then
  rmdir "$DIR/readonly"
  echo "cannot mount a read-only tmpfs here: the read-only case will skip"
fi
exit 0
