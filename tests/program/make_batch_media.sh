#!/bin/sh
# Media of the batch window's tests, made with native ffmpeg:
#   make_batch_media.sh OUTDIR [COUNT]
# an hour of AC3 (so that a batch can be cancelled while it runs), three
# seconds of noise, a file whose header understates its length and, with
# COUNT, that many short 14.4 files for the batch benchmark.
set -eu
OUT="$1"
COUNT="${2:-0}"
mkdir -p "$OUT"
# Outputs of earlier runs are never checked again.
rm -rf "$OUT/../../test-output/batch"
cd "$OUT"
ff() { ffmpeg -nostdin -v error -y "$@"; }
[ -f hour_ac3.rm ] || ff -f lavfi -i sine=f=550:d=3600:sample_rate=44100 -ac 2 -c:a ac3 -b:a 96k hour_ac3.rm
[ -f noise_ac3.rm ] || ff -f lavfi -i anoisesrc=d=3:r=44100:a=0.5 -ac 2 -c:a ac3 -b:a 192k noise_ac3.rm
# Twenty seconds whose headers (PROP and MDPR) say one: its end comes long
# after the converter's length says it should.
if [ ! -f understated.rm ]; then
  ff -f lavfi -i sine=f=440:d=20:sample_rate=8000 -ac 1 -c:a real_144 -f rm understated.tmp
  python3 - understated.tmp <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
pos = 0
while pos + 8 <= len(data) and data[pos:pos + 4] != b'DATA':
    size = struct.unpack('>I', data[pos + 4:pos + 8])[0]
    at = {b'PROP': 30, b'MDPR': 36}.get(bytes(data[pos:pos + 4]))
    if at: data[pos + at:pos + at + 4] = struct.pack('>I', 1000)
    pos += max(size, 8)
open(sys.argv[1], 'wb').write(data)
PY
  mv understated.tmp understated.rm
fi
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
