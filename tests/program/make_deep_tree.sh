#!/bin/sh
# A tree of folders as deep as Wine can reach (up to 2000 levels), with a
# RealMedia file at its top and at its bottom and a folder out of reach there, made natively: under Wine each
# level would cost a walk of the whole path, and making it would take minutes.
# Wine opens a file through the prefix's dosdevices link and the file's whole
# Unix path, which the kernel takes up to PATH_MAX (4096 bytes with its
# terminator): the depth is sized from that limit and from where the
# checkout and its prefix lie, not fixed, and written to DIR/levels for the
# test that reads the tree.
#   make_deep_tree.sh DIR SOURCE
set -eu
DIR="$1"
REPO="$(cd "$(dirname "$0")/../.." && pwd)"
PREFIX="${WINEPREFIX:-${VELLUMO_WINEPREFIX:-$REPO/.wine}}"
rm -rf "$DIR"
mkdir -p "$DIR"
DIR="$(cd "$DIR" && pwd)"
reach="$PREFIX/dosdevices/z:"
budget=$((4095 - ${#reach} - ${#DIR} - 5))   # "/x.rm" below the bottom folder
levels=$((budget / 2))
[ "$levels" -le 2000 ] || levels=2000
if [ "$levels" -lt 1000 ]; then
  echo "make_deep_tree: only $levels levels fit below $DIR: the checkout's path is too long for this test" >&2
  exit 1
fi
path=$(printf 'd/%.0s' $(seq "$levels"))
mkdir -p "$DIR/$path"
cp "$2" "$DIR/d/x.rm"
cp "$2" "$DIR/${path}x.rm"
# Beside the bottom file a folder whose name takes its path past what Wine
# can open: listed, but it cannot be read.
over=$((4095 - ${#reach} - ${#DIR} - 1 - 2 * levels))
far=out-of-reach
while [ "${#far}" -lt $((over + 5)) ]; do far="${far}x"; done
mkdir "$DIR/${path}$far"
echo "$levels" > "$DIR/levels"
