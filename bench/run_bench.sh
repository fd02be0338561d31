#!/usr/bin/env bash
# Conversion speed and memory against native ffmpeg, in one run on this machine:
#   - a 30-minute AC3 stereo 44.1 kHz RealMedia file to MP3 128 kbit/s and to WAV,
#   - a real-encoder cook file (shared samples) to MP3 128 kbit/s,
# each against `ffmpeg -i SOURCE OUTPUT` at the same bitrate. The converter's
# default channel mode is plain stereo, ffmpeg's (libmp3lame) joint stereo:
# the MP3 rows compare both ways (converter stereo vs ffmpeg joint, and each
# side in the other's mode). Also the graph build time (LoadFile + Convert)
# and the converter's peak memory for a 10- and a 30-minute file. The MP3
# encoder uses every core for a long file (up to 8 LAME instances): also the
# 30-minute file to VBR, and the native parallel encoder unit's throughput
# with 1, 2, 4 and 8 instances and the audio its chunk overlaps encode twice.
# The 32-bit build beside the 64-bit one, first: the 30-minute file to MP3
# CBR 128, MP3 VBR and WAV on each, the ratio 32/64 (target: at most 1.3x)
# and each one's peak private memory; the 32-bit peak for a 10-minute,
# 30-minute and 3-hour file (it must stay flat, under 200 MB), and the
# encoder unit's peak with up to 8 instances (the most it runs, whatever the
# cores) in a 32-bit and a 64-bit process.
# Wall times include the process start on both sides; each figure is the
# best of BENCH_RUNS runs (default 3), to keep other load out of it, with the
# spread of the runs (32- and 64-bit runs alternate).
#   bench/run_bench.sh [BUILD64 [BUILD32]]   (after scripts/build.sh; default build/ and build-i686/)
#   BENCH_ARCH_ONLY=1: only the 32-bit beside 64-bit part
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
B64="$(cd "${1:-build}" && pwd)"
B32="$(cd "${2:-build-i686}" && pwd)"
WORK="$REPO/build/bench"
RUNS="${BENCH_RUNS:-3}"
source scripts/samples-dir.sh
SAMPLES="$VELLUMO_SAMPLES"
COOK="$SAMPLES/cook_44k_stereo__douidou75-pfm__music.rm"
mkdir -p "$WORK"

make_source() {  # minutes file
  [ -f "$2" ] || ffmpeg -nostdin -v error -y -f lavfi -i "sine=f=440:d=$(( $1 * 60 )):sample_rate=44100" \
      -f lavfi -i "anoisesrc=d=$(( $1 * 60 )):a=0.05:r=44100" -filter_complex amerge=inputs=2 \
      -c:a ac3 -b:a 192k "$2"
}
make_source 30 "$WORK/long30.rm"
make_source 10 "$WORK/long10.rm"
make_source 180 "$WORK/long180.rm"

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start

winpath() { echo "Z:$1" | tr / '\\'; }
now() { date +%s.%N; }
min() { printf '%s\n' "$@" | sort -g | head -1; }
field() { echo "$1" | sed -n "s/.*$2=\([0-9.]*\).*/\1/p"; }
ratio() { printf '%.2f' "$(echo "scale=4; $1 / $2" | bc)"; }
secs() { printf '%.2f' "$1"; }

# converter SOURCE OUTPUT FORMAT [MODE]: sets CONV_WALL (best of the runs),
# CONV_LINE (the converter's own figures of that run) and CONV_BUILD (the
# quickest graph build of the runs: the first run of all pays the cold start).
# The build tree's converter: CONV_BIN (default the 64-bit one).
converter() {
  local walls=() builds=() t0 t1 line best=""
  for _ in $(seq "$RUNS"); do
    t0=$(now)
    line=$("$VELLUMO_WINE" "${CONV_BIN:-$B64/bin}/convert_bench.exe" "$(winpath "$1")" "$(winpath "$2")" "$3" ${4:-} ${5:-} 2>/dev/null | tr -d '\r')
    t1=$(now)
    walls+=("$(echo "$t1 - $t0" | bc)")
    builds+=("$(field "$line" build_ms)")
    if [ -z "$best" ] || [ "$(echo "${walls[-1]} < $best" | bc)" = 1 ]; then best=${walls[-1]}; CONV_LINE=$line; fi
  done
  CONV_WALL=$best
  CONV_BUILD=$(min "${builds[@]}")
}

# native SOURCE OUTPUT ARGS...: sets NATIVE_WALL (best of the runs).
native() {
  local src=$1 out=$2 walls=() t0 t1
  shift 2
  for _ in $(seq "$RUNS"); do
    t0=$(now)
    ffmpeg -nostdin -v error -y -i "$src" "$@" "$out" 2>/dev/null
    t1=$(now)
    walls+=("$(echo "$t1 - $t0" | bc)")
  done
  NATIVE_WALL=$(min "${walls[@]}")
}

mp3_rows() {  # label source
  local label=$1 src=$2 cs cj fj fs
  converter "$src" "$WORK/conv.mp3" mp3 stereo; cs=$CONV_WALL; MP3_LINE=$CONV_LINE; MP3_BUILD=$CONV_BUILD
  converter "$src" "$WORK/conv.mp3" mp3 joint; cj=$CONV_WALL
  native "$src" "$WORK/native.mp3" -c:a libmp3lame -b:a 128k; fj=$NATIVE_WALL
  native "$src" "$WORK/native.mp3" -c:a libmp3lame -b:a 128k -joint_stereo 0; fs=$NATIVE_WALL
  echo "== $label to MP3 128 kbit/s"
  echo "converter (stereo): $MP3_LINE"
  printf '  %-44s %10s  %10s  %s\n' "" converter ffmpeg ratio
  printf '  %-44s %8s s  %8s s  %sx\n' "converter stereo vs ffmpeg joint (defaults)" "$(secs "$cs")" "$(secs "$fj")" "$(ratio "$cs" "$fj")"
  printf '  %-44s %8s s  %8s s  %sx\n' "both stereo" "$(secs "$cs")" "$(secs "$fs")" "$(ratio "$cs" "$fs")"
  printf '  %-44s %8s s  %8s s  %sx\n' "both joint stereo" "$(secs "$cj")" "$(secs "$fj")" "$(ratio "$cj" "$fj")"
}

# arch_pair LABEL SOURCE FORMAT [MODE] [vbr]: the 64- and the 32-bit converter, alternating.
arch_pair() {
  local label=$1 src=$2 out="$WORK/arch.$3" w64=() w32=() l64 l32 r
  shift 2
  for r in $(seq "$RUNS"); do
    RUNS=1 CONV_BIN="$B64/bin" converter "$src" "$out" "$@"; w64+=("$CONV_WALL"); [ "$r" = 1 ] && l64=$CONV_LINE
    RUNS=1 CONV_BIN="$B32/bin" converter "$src" "$out" "$@"; w32+=("$CONV_WALL"); [ "$r" = 1 ] && l32=$CONV_LINE
  done
  local b64 b32 m64 m32
  b64=$(min "${w64[@]}"); b32=$(min "${w32[@]}")
  m64=$(printf '%s\n' "${w64[@]}" | sort -g | tail -1); m32=$(printf '%s\n' "${w32[@]}" | sort -g | tail -1)
  printf '  %-22s %7s s (%s-%s)  %7s s (%s-%s)  %5sx  %6s MB  %6s MB\n' "$label" "$(secs "$b64")" "$(secs "$b64")" "$(secs "$m64")" \
    "$(secs "$b32")" "$(secs "$b32")" "$(secs "$m32")" "$(ratio "$b32" "$b64")" "$(field "$l64" peak_private_mb)" "$(field "$l32" peak_private_mb)"
  case "$l64 $l32" in *finished=1*finished=1*) ;; *) echo "    FAILED: 64-bit: $l64 / 32-bit: $l32" ;; esac
}

echo "machine: $(nproc) cores, load before: $(cut -d' ' -f1-3 /proc/loadavg); best of $RUNS runs"
echo "== 32-bit ($B32) beside 64-bit ($B64), 30-minute AC3 stereo 44.1 kHz; wall s, best (spread); peak private memory"
printf '  %-22s %22s  %22s  %6s  %9s  %9s\n' "" "64-bit" "32-bit" "32/64" "64-bit" "32-bit"
arch_pair "MP3 CBR 128 (stereo)" "$WORK/long30.rm" mp3 stereo
arch_pair "MP3 VBR 56-160" "$WORK/long30.rm" mp3 stereo vbr
arch_pair "WAV" "$WORK/long30.rm" wav
echo "== 32-bit peak private memory, MB, by the file's length (flat, under 200 MB)"
for fmt in mp3 wav; do
  row=""
  for m in 10 30 180; do
    RUNS=1 CONV_BIN="$B32/bin" converter "$WORK/long$m.rm" "$WORK/arch.$fmt" "$fmt"
    row+="  $m min $(field "$CONV_LINE" peak_private_mb) ($(secs "$CONV_WALL") s)"
  done
  echo "  $fmt:$row"
done
[ -f "$WORK/long10.pcm" ] || ffmpeg -nostdin -v error -y -i "$WORK/long10.rm" -f s16le -ac 2 -ar 44100 "$WORK/long10.pcm"
for b in "$B32" "$B64"; do
  echo "== parallel encoder unit, $(basename "$b") under Wine, 10 minutes to MP3 128 kbit/s CBR (8 instances: the cap, whatever the cores)"
  "$VELLUMO_WINE" "$b/bin/parallel_encoder_bench.exe" "$(winpath "$WORK/long10.pcm")" 128 2>/dev/null | tr -d '\r'
done
[ -n "${BENCH_ARCH_ONLY:-}" ] && exit 0

mp3_rows "30-minute AC3 stereo 44.1 kHz" "$WORK/long30.rm"
conv30mp3=$MP3_LINE; build30mp3=$MP3_BUILD

converter "$WORK/long30.rm" "$WORK/conv.wav" wav; conv30wav=$CONV_LINE; build30wav=$CONV_BUILD
native "$WORK/long30.rm" "$WORK/native.wav" -c:a pcm_s16le
echo "== 30-minute AC3 stereo 44.1 kHz to WAV"
echo "converter: $CONV_LINE"
printf '  %-44s %8s s  %8s s  %sx\n' "converter vs ffmpeg" "$(secs "$CONV_WALL")" "$(secs "$NATIVE_WALL")" "$(ratio "$CONV_WALL" "$NATIVE_WALL")"

converter "$WORK/long30.rm" "$WORK/conv.mp3" mp3 stereo vbr; cv=$CONV_WALL
native "$WORK/long30.rm" "$WORK/native.mp3" -c:a libmp3lame -q:a 4 -joint_stereo 0; fv=$NATIVE_WALL
echo "== 30-minute AC3 stereo 44.1 kHz to MP3 VBR (converter 56-160 kbit/s, ffmpeg -q:a 4), both stereo"
printf '  %-44s %8s s  %8s s  %sx\n' "converter vs ffmpeg" "$(secs "$cv")" "$(secs "$fv")" "$(ratio "$cv" "$fv")"

if [ -f "$COOK" ]; then
  mp3_rows "cook 44.1 kHz stereo ($(basename "$COOK"))" "$COOK"
else
  echo "== cook sample not found in $SAMPLES: skipped"
fi

RUNS=1
converter "$WORK/long10.rm" "$WORK/conv.mp3" mp3; conv10mp3=$CONV_LINE; build10mp3=$CONV_BUILD
converter "$WORK/long10.rm" "$WORK/conv.wav" wav; conv10wav=$CONV_LINE; build10wav=$CONV_BUILD
echo "== graph build (LoadFile + Convert), ms"
echo "  30-minute MP3 $build30mp3  WAV $build30wav;  10-minute MP3 $build10mp3  WAV $build10wav"
echo "== converter peak memory, MB (should not grow with the file's length)"
echo "  MP3: 10 minutes $(field "$conv10mp3" peak_mb), 30 minutes $(field "$conv30mp3" peak_mb)"
echo "  WAV: 10 minutes $(field "$conv10wav" peak_mb), 30 minutes $(field "$conv30wav" peak_mb)"

# The parallel encoder unit natively (no Wine, no decoder): 10 minutes of the source's PCM.
LAME="$(scripts/build-deps.sh native-lame | tail -n 1)"
g++ -std=c++17 -O2 -pthread -I filters/encoder -I"$LAME/include" filters/encoder/{mp3_frame,frame_joiner,parallel_encoder}.cpp \
  bench/parallel_encoder_bench.cpp "$LAME/lib/libmp3lame.a" -o "$WORK/parallel_encoder_bench"
[ -f "$WORK/long10.pcm" ] || ffmpeg -nostdin -v error -y -i "$WORK/long10.rm" -f s16le -ac 2 -ar 44100 "$WORK/long10.pcm"
echo "== parallel encoder unit, native, 10 minutes stereo 44.1 kHz to MP3 128 kbit/s CBR"
"$WORK/parallel_encoder_bench" "$WORK/long10.pcm" 128
echo "== same, VBR 56-160 kbit/s"
"$WORK/parallel_encoder_bench" "$WORK/long10.pcm" vbr
