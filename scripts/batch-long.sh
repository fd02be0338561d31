#!/usr/bin/env bash
# Long batch: short files converted one after another through one converter
# object; prints handles, threads, GDI/USER objects, private memory and the
# filter graphs made after every 50 files, then fails if the counts at the
# end exceed those after the first files (less what the platform itself
# leaves per graph) or an object of the filter pack is still alive.
#   scripts/batch-long.sh [files=500]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/fixed-layout.sh" "$0" "$@"
FILES="${1:-500}"
source "$(dirname "$0")/long-run-env.sh"
"$REPO/scripts/wine-run.sh" fuzz_realmedia.exe --long-batch "$FILES" --timeout-ms 60000
