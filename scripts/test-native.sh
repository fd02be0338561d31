#!/usr/bin/env bash
# The platform-free units built natively with AddressSanitizer and
# UndefinedBehaviorSanitizer, and their tests run (GoogleTest arguments pass
# on): the MP3 units (filters/encoder: frames, joiner, parallel encoder, with
# the stream checks of bench/mp3_stream_check) against a native LAME, and the
# batch's logic (vellumo/conversion/batch_plan).
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
"${CXX[@]}" -std=c++17 -g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all \
  -Wall -Wextra -pthread -I"$REPO/vellumo/conversion" \
  "$REPO/vellumo/conversion/batch_plan.cpp" "$REPO/tests/native/batch_plan_test.cpp" \
  -lgtest -lgtest_main -o "$OUT/batch_plan_test"
status=0
"$OUT/parallel_encoder_test" "$@" || status=$?
"$OUT/batch_plan_test" "$@" || status=$?
exit "$status"
