#!/usr/bin/env bash
# Long run of the RealMedia mutation fuzzer: prints inputs, crashes, hangs,
# leaks and time at the end (and progress after every batch).
#   scripts/fuzz-long.sh [count=10000] [seed=1] [first=0]
# Needs a built tree (scripts/build.sh); makes the test media if missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/fixed-layout.sh" "$0" "$@"
COUNT="${1:-10000}"
SEED="${2:-1}"
FIRST="${3:-0}"
source "$(dirname "$0")/long-run-env.sh"
time "$REPO/scripts/wine-run.sh" fuzz_realmedia.exe --seed "$SEED" --first "$FIRST" --count "$COUNT" \
  --batch 100 --timeout-ms 30000
