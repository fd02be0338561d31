#!/usr/bin/env bash
# Benchmark of adding files as the open dialog does: 10,000 paths (or the
# count given) added to the main window's list, then the same ones again;
# prints the seconds each took. Not part of the test run.
#   bench/add_files_bench.sh [count]       (after scripts/build.sh)
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start
cd build/bin
"$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll
"$REPO/scripts/wine-run.sh" add_files_bench.exe "$@" 2>/dev/null
