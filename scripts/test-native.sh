#!/usr/bin/env bash
# The platform-free MP3 units (filters/encoder: frames, joiner, parallel
# encoder, with the stream checks of bench/mp3_stream_check) built natively
# against a native LAME with AddressSanitizer and
# UndefinedBehaviorSanitizer, and their tests run (GoogleTest arguments pass on).
#   scripts/test-native.sh [--gtest_filter=...]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${NATIVE_OUT:-$REPO/build-native}"
source "$REPO/scripts/samples-dir.sh"
LAME="$("$REPO/scripts/build-deps.sh" native-lame | tail -n 1)"
mkdir -p "$OUT"
CXX=(g++)
command -v ccache >/dev/null && CXX=(ccache g++)
"${CXX[@]}" -std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all \
  -Wall -Wextra -pthread -I"$REPO/filters/encoder" -I"$REPO/bench" -I"$LAME/include" \
  "$REPO"/filters/encoder/{mp3_frame,frame_joiner,parallel_encoder}.cpp "$REPO/bench/mp3_stream_check.cpp" \
  "$REPO/tests/native/parallel_encoder_test.cpp" \
  "$LAME/lib/libmp3lame.a" -lgtest -lgtest_main -o "$OUT/parallel_encoder_test"
exec "$OUT/parallel_encoder_test" "$@"
