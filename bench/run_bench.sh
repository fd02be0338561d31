#!/usr/bin/env bash
# Converts a 30-minute AC3 stereo 44.1 kHz RealMedia file to MP3 (128 kbit/s)
# and to WAV through the converter under Wine, and the same with native
# ffmpeg, and prints the wall times, their ratio and the converter's peak
# memory. A 10-minute file is converted too, to show whether memory grows
# with the file's length.
#   bench/run_bench.sh            (after scripts/build.sh)
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
WORK="$REPO/build/bench"
mkdir -p "$WORK"

make_source() {  # minutes file
  [ -f "$2" ] || ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:d=$(( $1 * 60 )):sample_rate=44100" \
      -f lavfi -i "anoisesrc=d=$(( $1 * 60 )):a=0.05:r=44100" -filter_complex amerge=inputs=2 \
      -c:a ac3 -b:a 192k "$2"
}
make_source 30 "$WORK/long30.rm"
make_source 10 "$WORK/long10.rm"

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start

winpath() { echo "Z:$1" | tr / '\\'; }
now() { date +%s.%N; }

run_converter() {  # source output format
  local t0 t1 line
  t0=$(now)
  line=$("$VELLUMO_WINE" build/bin/convert_bench.exe "$(winpath "$1")" "$(winpath "$2")" "$3" 2>/dev/null | tr -d '\r')
  t1=$(now)
  echo "$line wall_s=$(echo "$t1 - $t0" | bc)"
}

for fmt in mp3 wav; do
  conv=$(run_converter "$WORK/long30.rm" "$WORK/out30.$fmt" "$fmt")
  conv10=$(run_converter "$WORK/long10.rm" "$WORK/out10.$fmt" "$fmt")
  if [ "$fmt" = mp3 ]; then codec=(-c:a libmp3lame -b:a 128k); else codec=(-c:a pcm_s16le); fi
  t0=$(now)
  ffmpeg -nostdin -v error -y -i "$WORK/long30.rm" "${codec[@]}" "$WORK/native30.$fmt"
  t1=$(now)
  native=$(echo "$t1 - $t0" | bc)
  wall=$(echo "$conv" | sed -n 's/.*wall_s=\([0-9.]*\).*/\1/p')
  echo "== $fmt, 30-minute AC3 stereo 44.1 kHz source"
  echo "converter: $conv"
  echo "converter, 10-minute source: $conv10"
  echo "native ffmpeg: wall_s=$native"
  echo "ratio converter/ffmpeg: $(echo "scale=3; $wall / $native" | bc)"
done
