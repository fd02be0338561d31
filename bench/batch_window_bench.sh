#!/usr/bin/env bash
# Benchmark of the batch conversion window: 200 short RealMedia files
# converted to WAV in one batch by the real vellumo.exe; prints the time per
# file and the program's handles, GDI/USER objects and memory after the files,
# with the growth per file. Not part of the test run.
#   bench/batch_window_bench.sh        (after scripts/build.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

source scripts/samples-dir.sh
sh tests/realmedia/make_test_media.sh build/test-media/realmedia "$VELLUMO_SAMPLES" >/dev/null
sh tests/program/make_batch_media.sh build/test-media/batch 200

source scripts/test-env.sh
vellumo_env_start
cleanup() {
  (cd "$REPO/build/bin" && "$REPO/scripts/wine-run.sh" regsvr32 /u /s vellumo_filters.dll) || true
  vellumo_env_stop
}
trap cleanup EXIT
(cd build/bin && "$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll && "$REPO/scripts/wine-run.sh" regsvr32 /s vellumo_filters.dll)
cd build/bin
"$REPO/scripts/wine-run.sh" batch_window_bench.exe
