#!/bin/sh
# Media of the batch window's tests, made with native ffmpeg:
#   make_batch_media.sh OUTDIR [COUNT]
# a long AC3 file (so that a batch can be cancelled while it runs) and, with
# COUNT, that many short 14.4 files for the batch benchmark.
set -eu
OUT="$1"
COUNT="${2:-0}"
mkdir -p "$OUT"
# Outputs of earlier runs are never checked again.
rm -rf "$OUT/../../test-output/batch"
cd "$OUT"
ff() { ffmpeg -nostdin -v error -y "$@"; }
[ -f long_ac3.rm ] || ff -f lavfi -i sine=f=550:d=600:sample_rate=44100 -ac 2 -c:a ac3 -b:a 96k long_ac3.rm
if [ "$COUNT" -gt 0 ]; then
  mkdir -p many
  [ -f many/short.ra ] || ff -f lavfi -i sine=f=440:d=1:sample_rate=8000 -ac 1 -c:a real_144 -f rm many/short.ra
  i=1
  while [ "$i" -le "$COUNT" ]; do
    n=$(printf '%03d' "$i")
    [ -f "many/s$n.ra" ] || cp many/short.ra "many/s$n.ra"
    i=$((i + 1))
  done
fi
