#!/usr/bin/env bash
# What hostile files cost the converter, against ordinary ones: seconds per
# MB of source, peak memory and the length of the output, for
#   - a 14.4 file whose packets after the third are cut to 3 bytes (each
#     refused packet is concealed),
#   - an AC3 file whose payloads are made of AC3 sync words,
#   - a multi-rate file of 96 MB of empty packets (its packet index),
#   - reference files listing themselves 40 and 1,000 times (load time).
#   bench/hostile_media_bench.sh            (after scripts/build.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
WORK="$REPO/build/bench/hostile"
source scripts/samples-dir.sh
SAMPLES="$VELLUMO_SAMPLES"
SURE="$SAMPLES/surestream_cook_11k_mono+cook_22k__SymbianSource-sf.mw.mmmw__RA_11kbps_Music.ra"
mkdir -p "$WORK"
ff() { ffmpeg -nostdin -v error -y "$@"; }
[ -f "$WORK/normal_144.rm" ] || ff -f lavfi -i sine=f=440:d=600:sample_rate=8000 -ac 1 -c:a real_144 "$WORK/normal_144.rm"
[ -f "$WORK/normal_ac3.rm" ] || ff -f lavfi -i sine=f=1000:d=120:sample_rate=44100 -ac 2 -c:a ac3 -b:a 192k "$WORK/normal_ac3.rm"
craft() { [ -f "$WORK/$3" ] || python3 bench/craft_hostile_media.py "$1" "$2" "$WORK/$3" ${4:-}; }
craft tiny "$WORK/normal_144.rm" tiny_144.rm
craft syncwords "$WORK/normal_ac3.rm" syncwords_ac3.rm
craft surestream "$SURE" surestream_tiny.ra 96
for n in 40 1000; do
  [ -f "$WORK/self$n.ram" ] || for _ in $(seq $n); do printf 'self%s.ram\r\n' "$n"; done > "$WORK/self$n.ram"
done

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start
winpath() { echo "Z:$1" | tr / '\\'; }
now() { date +%s.%N; }

printf '%-22s %8s %8s %9s %8s %9s  %s\n' file MB seconds s/MB peak_MB out_MB converter
for f in normal_144.rm tiny_144.rm normal_ac3.rm syncwords_ac3.rm "$(basename "$SURE")" surestream_tiny.ra self40.ram self1000.ram; do
  src="$WORK/$f"
  [ -f "$src" ] || src="$SAMPLES/$f"
  rm -f "$WORK/out.wav"
  t0=$(now)
  line=$("$VELLUMO_WINE" build/bin/convert_bench.exe "$(winpath "$src")" "$(winpath "$WORK/out.wav")" wav 2>/dev/null | tr -d '\r' || true)
  t1=$(now)
  mb=$(echo "scale=3; $(stat -c %s "$src") / 1048576" | bc)
  secs=$(echo "$t1 - $t0" | bc)
  out=$( [ -f "$WORK/out.wav" ] && echo "scale=2; $(stat -c %s "$WORK/out.wav") / 1048576" | bc || echo 0)
  peak=$(echo "$line" | sed -n 's/.*peak_mb=\([0-9.]*\).*/\1/p')
  per=-; [ "$(echo "$mb >= 0.1" | bc)" = 1 ] && per=$(printf '%.3f' "$(echo "scale=4; $secs / $mb" | bc)")
  printf '%-22.22s %8.2f %8.2f %9s %8s %9s  %s\n' "$f" "$mb" "$secs" "$per" "$peak" "$out" \
    "$(echo "$line" | sed 's/ build_ms.*//')"
done
