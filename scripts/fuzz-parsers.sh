#!/usr/bin/env bash
# Fuzzes the parsers of untrusted bytes (filters/parsers, targets in tests/fuzz/)
# and the whole media path over them (media_path: the platform-free part of
# filters/realmedia with FFmpeg built natively with the same sanitizers by
# scripts/build-deps.sh native-asan, cached) natively with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer.
#   scripts/fuzz-parsers.sh [seconds per target]     (default 30; 0: replay only)
# First every case in tests/fuzz/regressions/<target>/ is replayed, then each target
# runs for the given time, seeded with the shared samples (../shared/samples
# beside the clone, or $VELLUMO_SAMPLES), media made with native ffmpeg and
# the files in $FUZZ_EXTRA_SEEDS. An input that crashes, trips a sanitizer,
# hangs or runs out of memory is added to tests/fuzz/regressions/<target>/ and fails
# the run. FUZZ_TARGETS="a b" runs only those; FUZZ_JOBS=n runs n at a time; FUZZ_OUT is the build folder;
# FUZZ_M32=1 builds for i386, as the 32-bit program runs the parsers (needs
# gcc-multilib and lib32stdc++-12-dev).
set -uo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
SECS="${1:-30}"
OUT="${FUZZ_OUT:-$REPO/build-fuzz}"
source "$REPO/scripts/samples-dir.sh"
SAMPLES="$VELLUMO_SAMPLES"
read -r -a TARGETS <<< "${FUZZ_TARGETS:-rm_layout cont_tags ra_header ac3_reframer ram_text wave_header media_path}"
CXX=(clang++-14)
command -v ccache >/dev/null && CXX=(ccache clang++-14)
FLAGS=(-std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all
       -Wall -Wextra -I"$REPO/filters/parsers" ${FUZZ_M32:+-m32})
mkdir -p "$OUT/obj" "$OUT/seeds"

# The parsers once, each target linked with them.
objs=()
for src in "$REPO"/filters/parsers/*.cpp; do
  obj="$OUT/obj/$(basename "$src" .cpp).o"
  "${CXX[@]}" "${FLAGS[@]}" -fsanitize=fuzzer-no-link -c "$src" -o "$obj" || exit 1
  objs+=("$obj")
done
# The media core (no platform headers; local_text_posix.cpp stands for the
# Windows side) with the sanitized FFmpeg, for the targets that need it.
MEDIA_TARGETS=" media_path "
media=()
for t in "${TARGETS[@]}"; do [[ "$MEDIA_TARGETS" == *" $t "* ]] && media=(yes); done
if [ "${#media[@]}" -gt 0 ]; then
  [ -z "${FUZZ_M32:-}" ] || { echo "fuzz: the media targets build for 64 bits only" >&2; exit 1; }
  FFMPEG="$("$REPO/scripts/build-deps.sh" native-asan | tail -n 1)" || exit 1
  media=()
  for src in avio_bridge codec_setup rm_demuxer ram_file local_text_posix media_opener audio_decoder file_tags; do
    obj="$OUT/obj/media_$src.o"
    "${CXX[@]}" "${FLAGS[@]}" -I"$REPO/filters/realmedia" -I"$FFMPEG/include" -fsanitize=fuzzer-no-link \
      -c "$REPO/filters/realmedia/$src.cpp" -o "$obj" || exit 1
    media+=("$obj")
  done
  media+=("$FFMPEG"/lib/libavformat.a "$FFMPEG"/lib/libavcodec.a "$FFMPEG"/lib/libswresample.a
          "$FFMPEG"/lib/libavutil.a -lm -lpthread)
fi
for t in "${TARGETS[@]}"; do
  extra=()
  [[ "$MEDIA_TARGETS" == *" $t "* ]] && extra=(-I"$REPO/filters/realmedia" -I"$FFMPEG/include" "${media[@]}")
  "${CXX[@]}" "${FLAGS[@]}" -fsanitize=fuzzer "$REPO/tests/fuzz/$t.cpp" "${objs[@]}" "${extra[@]}" -o "$OUT/$t" || exit 1
done

# Seeds: media made with ffmpeg (raw AC3 also with its words swapped, as
# 'dnet' stores it), reference-file text, a version 3 RealAudio header.
S="$OUT/seeds"
ff() { [ -f "$S/$1" ] || ffmpeg -nostdin -v error -y -f lavfi -i sine=f=1000:d=1:sample_rate="$2" "${@:3}" "$S/$1"; }
ff ac3.rm 44100 -ac 2 -c:a ac3 -metadata title="Crème" -metadata author="曹雪芹" -metadata copyright=C -metadata comment=c
ff r144.rm 8000 -ac 1 -c:a real_144 -metadata title=T
ff ac3_48k.ac3 48000 -ac 1 -c:a ac3 -b:a 64k
ff ac3_32k.ac3 32000 -ac 2 -c:a ac3
ff ac3_44k.ac3 44100 -ac 2 -c:a ac3 -b:a 96k
ff r144.ra 8000 -ac 1 -c:a real_144 -f rm
vid() { [ -f "$S/$1" ] || ffmpeg -nostdin -v error -y -f lavfi -i testsrc=d=1:s=64x48:r=10 -f lavfi -i sine=d=1 "${@:2}" "$S/$1"; }
vid rv10_r144.rm -c:v rv10 -c:a real_144 -ar 8000 -ac 1
vid rv20_ac3.rmvb -c:v rv20 -c:a ac3 -ac 2 -f rm
for a in 48k 44k; do [ -f "$S/ac3_$a.dnet" ] || dd if="$S/ac3_$a.ac3" of="$S/ac3_$a.dnet" conv=swab status=none; done
# The delivery changing in the middle of a frame, from swapped to plain and back.
{ head -c 1000 "$S/ac3_48k.dnet"; tail -c +1001 "$S/ac3_48k.ac3"; } > "$S/ac3_48k.mixed"
{ head -c 1500 "$S/ac3_44k.ac3"; tail -c +1501 "$S/ac3_44k.dnet"; } > "$S/ac3_44k.mixed"
printf 'rtsp://a/b.rm\r\nfile:///C:/My%%20Music/a.rm?x#y\r\n# note\n\nfile://localhost/D:/b.ra\nrel/c.rm\n' > "$S/list.ram"
printf '.ra\375\000\003\000\050%014d\000\000\003Ttl\002Au\001C\002Cm' 0 > "$S/v3.ra"
# Format blocks as the WAV writer gets them (PCM, MP3 with cbSize 12,
# WAVE_FORMAT_EXTENSIBLE with 22), each with 4 MB of audio, a trailer and tag text.
wfx() { printf "\000\000\100\000\000\000\000\000\044\000\000\000\\$(printf %o "$2")$1" > "$S/wave_$3.bin"; printf 'T\nA\nC\nCm' >> "$S/wave_$3.bin"; }
wfx '\001\000\002\000\104\254\000\000\020\261\002\000\004\000\020\000\000\000' 18 pcm
wfx '\125\000\002\000\104\254\000\000\000\372\000\000\001\000\000\000\014\000\001\000\002\000\000\000\240\001\001\000\161\005' 30 mp3
wfx '\376\377\002\000\200\273\000\000\000\356\002\000\004\000\020\000\026\000\020\000\003\000\000\000\001\000\000\000\000\000\020\000\200\000\000\252\000\070\233\161' 40 ext
seeds=("$S")
[ -d "$SAMPLES" ] && seeds+=("$SAMPLES")
[ -n "${FUZZ_EXTRA_SEEDS:-}" ] && [ -d "$FUZZ_EXTRA_SEEDS" ] && seeds+=("$FUZZ_EXTRA_SEEDS")

# One target: replay its regression cases, then fuzz it. Prints its report
# lines; the last one is "pass" or "fail".
fuzz_one() {
  local t="$1" reg="$REPO/tests/fuzz/regressions/$1" ok=1 f
  local cases=()
  [ -d "$reg" ] && for f in "$reg"/*; do [ -f "$f" ] && cases+=("$f"); done
  if [ "${#cases[@]}" -gt 0 ]; then
    if "$OUT/$t" -rss_limit_mb=2048 -timeout=30 "${cases[@]}" > "$OUT/$t.replay.log" 2>&1; then
      echo "fuzz $t: ${#cases[@]} regression cases pass"
    else
      ok=0; echo "fuzz $t: a regression case fails:"; tail -n 30 "$OUT/$t.replay.log"
    fi
  fi
  if [ "$SECS" -gt 0 ]; then
    local art="$OUT/artifacts/$t" corpus="$OUT/corpus/$t" len=65536 limit=10 rc
    rm -rf "$art"; mkdir -p "$art/" "$corpus"
    [ "$t" = ac3_reframer ] && len=16384  # a few frames (3840 bytes at most) is all its logic looks at
    # Whole files decoded: the headers and a few interleaving blocks (a
    # 44.1 kHz cook block is 16 kB) make a case; a busy machine needs longer.
    # An input slower than usual but within the limit is no finding (the
    # coverage counters weigh heavily on the resampler's inner loop).
    [ "$t" = media_path ] && len=32768 limit=30
    "$OUT/$t" "$corpus" "${seeds[@]}" -dict="$REPO/tests/fuzz/parsers.dict" -max_total_time="$SECS" -max_len="$len" \
      -timeout="$limit" -report_slow_units="$limit" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$art/" > "$OUT/$t.log" 2>&1
    rc=$?
    local execs cov found
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$OUT/$t.log")
    cov=$(grep -o 'cov: [0-9]*' "$OUT/$t.log" | tail -n 1 | cut -d' ' -f2)
    found=("$art"/*)
    if [ "$rc" = 0 ] && [ ! -e "${found[0]}" ]; then
      echo "fuzz $t: ${execs:-?} executions, ${cov:-?} edges covered, no finding"
    else
      ok=0; mkdir -p "$reg"
      for f in "${found[@]}"; do [ -e "$f" ] && cp "$f" "$reg/"; done
      echo "fuzz $t: FINDING after ${execs:-?} executions (${cov:-?} edges); kept in tests/fuzz/regressions/$t:"
      grep -A 25 'ERROR\|runtime error\|deadly signal' "$OUT/$t.log" | head -n 40
    fi
  fi
  [ "$ok" = 1 ] && echo pass || echo fail
}

# FUZZ_JOBS targets at a time (default one).
jobs="${FUZZ_JOBS:-1}"
for t in "${TARGETS[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  fuzz_one "$t" > "$OUT/$t.report" &
done
wait
passed=0 failed=0
for t in "${TARGETS[@]}"; do
  sed '$d' "$OUT/$t.report"
  if [ "$(tail -n 1 "$OUT/$t.report")" = pass ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
