#!/usr/bin/env bash
# The MP3 validity matrix: the parallel MP3 encoder (built natively, LAME set
# as the encoder filter sets it, several instances, the product's chunks) on
# a 30-minute AC3 RealMedia file made with ffmpeg and on every shared real
# sample (decoded to PCM by native ffmpeg), over CBR 128 and 320, VBR 80-160,
# mono and stereo, 44.1 and 22.05 kHz out, CRC on and off. Each stream is
# checked from outside (bench/mp3_stream_check): the frame walker, ffmpeg's
# strict decode and mpg123 (both must be silent), and the samples decoded
# against the samples put in. A source too short for the product's chunks is
# also run with small chunks, so that it is joined too. Then, when the
# Windows build is there, the real converter's two outputs of the 30-minute
# file (CBR 128 and VBR, as bench/run_bench.sh makes them) get the same
# checks. Prints a table and "N of M passed"; exit status 1 if any failed.
#   bench/mp3_validity.sh   (nice it: it keeps every core busy for minutes)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
WORK="$REPO/build/bench/mp3-validity"
source scripts/samples-dir.sh
SAMPLES="$VELLUMO_SAMPLES"
mkdir -p "$WORK"
TOOL="$WORK/mp3_validity"

LAME="$(scripts/build-deps.sh native-lame | tail -n 1)"
g++ -std=c++17 -O2 -Wall -Wextra -pthread -I filters/encoder -I bench -I"$LAME/include" \
  filters/encoder/{mp3_frame,frame_joiner,parallel_encoder}.cpp bench/mp3_stream_check.cpp bench/mp3_validity.cpp \
  "$LAME/lib/libmp3lame.a" -o "$TOOL" || exit 2

# The 30-minute file exactly as bench/run_bench.sh makes it.
LONG="$REPO/build/bench/long30.rm"
[ -f "$LONG" ] || ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:d=1800:sample_rate=44100" \
    -f lavfi -i "anoisesrc=d=1800:a=0.05:r=44100" -filter_complex amerge=inputs=2 -c:a ac3 -b:a 192k "$LONG"

passed=0 total=0 failed=()
row() { printf '%-44s %-26s %6s %-10s %9s %-7s %-7s %-6s %-21s %s\n' "$@"; }
field() { sed -n "s/.*[ ^]$2=\([^ ]*\).*/\1/p" <<<" $1"; }

# matrix NAME RAW RATE CHANNELS [LAYOUT]
matrix() {
  local name=$1 raw=$2 rate=$3 ch=$4 layout=${5:-} label rule mode out crc line joins result
  for rule in cbr128 cbr320 vbr80-160; do
    for mode in mono stereo; do
      for out in 44100 22050; do
        for crc in 0 1; do
          label="$rule/$mode/$(awk -v r="$out" 'BEGIN { print r / 1000 }')k/crc$crc${layout:+/small}"
          line=$("$TOOL" "$raw" "$rate" "$ch" "$WORK/out.mp3" "$rule" "$out" "$mode" "$crc" 4 $layout 2>&1)
          result=$(awk '{print $NF; exit}' <<<"$line")
          joins=$(field "$line" joins)
          [ "$(field "$line" instances)" = 1 ] && joins="$joins(1ctx)"
          total=$((total + 1))
          if [ "$result" = PASS ]; then passed=$((passed + 1)); else failed+=("$name $label"); fi
          row "$name" "$label" "$(field "$line" frames)" "$joins" "$(field "$line" bytes)" "$(field "$line" ffmpeg)" \
              "$(field "$line" mpg123)" "$(field "$line" walker)" "$(field "$line" out)/$(field "$line" expected)" "${result:-FAIL}"
          sed -n -e 's/^  /    /p' -e 's/^error=\(.*\) FAIL$/    \1/p' <<<"$line"
          grep -q "single=" <<<"$line" && SINGLE="$(sed -n 's/.*single=\(.*\) samples_in=.*/\1/p' <<<"$line")"
        done
      done
    done
  done
}

# source NAME FILE: decodes the first audio stream to PCM (more than two
# channels downmixed to stereo, as the filter does) and runs the matrix.
source_matrix() {
  local name=$1 file=$2 rate ch raw="$WORK/source.raw" seconds
  read -r rate ch < <(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels -of csv=p=0 "$file" 2>/dev/null | head -1 | tr ',' ' ')
  if [ -z "${rate:-}" ]; then echo "SKIP $name: no audio stream"; return; fi
  [ "$ch" -gt 2 ] && ch=2
  ffmpeg -nostdin -v quiet -y -i "$file" -map 0:a:0 -f s16le -ac "$ch" -ar "$rate" "$raw"
  seconds=$(awk -v b="$(stat -c %s "$raw")" -v r="$rate" -v c="$ch" 'BEGIN { printf "%.1f", b / 2 / c / r }')
  if [ "$(stat -c %s "$raw")" -eq 0 ]; then echo "SKIP $name: ffmpeg decodes no audio"; return; fi
  echo "-- $name: $rate Hz, $ch channel(s), $seconds s decoded"
  SINGLE=""
  matrix "$name" "$raw" "$rate" "$ch"
  [ -n "$SINGLE" ] && echo "   (1ctx: $SINGLE)"
  # Shorter than the product's first cut (about 20 s): small chunks as well.
  if awk -v s="$seconds" 'BEGIN { exit !(s < 21) }'; then matrix "$name" "$raw" "$rate" "$ch" 48,16,8,2; fi
}

echo "machine: $(nproc) cores, load before: $(cut -d' ' -f1-3 /proc/loadavg)"
row source setting frames joins bytes ffmpeg mpg123 walker samples_out/expected result
source_matrix long30_ac3_44k_stereo "$LONG"
for f in "$SAMPLES"/*; do
  case "$f" in *.ram|*.md) continue ;; esac
  source_matrix "$(basename "$f" | sed 's/__.*//')" "$f"
done

# The real converter's outputs of the 30-minute file, made as bench/run_bench.sh makes them.
echo "-- converter (build/bin/convert_bench.exe under Wine), 30-minute file, stereo 44.1 kHz"
if [ -f build/bin/convert_bench.exe ]; then
  source scripts/test-env.sh
  trap vellumo_env_stop EXIT
  vellumo_env_start
  winpath() { echo "Z:$1" | tr / '\\'; }
  expected=$(( $(ffmpeg -nostdin -v quiet -i "$LONG" -f s16le -ac 2 - | wc -c) / 4 ))
  for conv in "cbr128|" "vbr56-160|vbr"; do
    rule=${conv%|*}
    "$VELLUMO_WINE" build/bin/convert_bench.exe "$(winpath "$LONG")" "$(winpath "$WORK/converter.mp3")" mp3 stereo ${conv#*|} >/dev/null 2>&1
    line=$("$TOOL" --check "$WORK/converter.mp3" "$rule" "$expected" 2>&1)
    result=$(awk '{print $NF; exit}' <<<"$line")
    total=$((total + 1))
    if [ "$result" = PASS ]; then passed=$((passed + 1)); else failed+=("converter $rule"); fi
    row converter_long30 "$rule/stereo/44.1k/crc0" "$(field "$line" frames)" "-" "$(field "$line" bytes)" "$(field "$line" ffmpeg)" \
        "$(field "$line" mpg123)" "$(field "$line" walker)" "$(field "$line" out)/$(field "$line" expected)" "${result:-FAIL}"
    sed -n -e 's/^  /    /p' -e 's/^error=\(.*\) FAIL$/    \1/p' <<<"$line"
  done
else
  echo "   skipped: build/bin/convert_bench.exe is not built (scripts/build.sh)"
fi

for f in "${failed[@]}"; do echo "FAILED: $f"; done
echo "$passed of $total passed"
[ "$passed" = "$total" ]
