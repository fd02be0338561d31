#!/bin/sh
# A program folder that the user cannot write, as Program Files is for a
# user without administrator rights: a tmpfs holding a copy of vellumo.exe,
# then mounted read-only (needs mount rights; without them the folder is
# missing and the test that needs it skips).
#   mount_readonly_program.sh DIR BINDIR [--unmount]
set -u
DIR="$1"
BIN="$2"
while mountpoint -q "$DIR" 2>/dev/null; do umount "$DIR" || break; done
[ -d "$DIR" ] && rmdir "$DIR" 2>/dev/null
[ "${3:-}" = "--unmount" ] && exit 0
mkdir -p "$DIR"
if mount -t tmpfs -o size=32m tmpfs "$DIR" 2>/dev/null; then
  if cp "$BIN/vellumo.exe" "$DIR/" && mount -o remount,ro "$DIR"; then
    exit 0
  fi
  umount "$DIR"
fi
rmdir "$DIR"
echo "cannot mount a read-only program folder here: that case will skip"
exit 0
