#!/usr/bin/env bash
# Benchmark of dropping files on the main window: a folder of 2000 RealMedia
# files dropped from the shell; prints how long the main window took to list
# them. Not part of the test run.
#   bench/drop_bench.sh        (after scripts/build.sh)
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start
cd build/bin
"$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll
"$REPO/scripts/wine-run.sh" drop_bench.exe 2>/dev/null
