#!/bin/sh
# A tree 2000 folders deep, with a RealMedia file at its top and at its
# bottom, made natively: under Wine each level would cost a walk of the
# whole path, and making it would take minutes.
#   make_deep_tree.sh DIR SOURCE
set -eu
DIR="$1"
rm -rf "$DIR"
levels=$(printf 'd/%.0s' $(seq 2000))
mkdir -p "$DIR/$levels"
cp "$2" "$DIR/d/x.rm"
cp "$2" "$DIR/${levels}x.rm"
