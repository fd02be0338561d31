#!/usr/bin/env bash
# Runs one of the main window's benchmark programs (build/bin/NAME.exe)
# under Wine, with the converter registered; arguments pass on.
#   bench/run_window_bench.sh NAME [arguments]       (after scripts/build.sh)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
name="$1"
shift

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start
cd build/bin
"$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll
"$REPO/scripts/wine-run.sh" "$name.exe" "$@" 2>/dev/null
