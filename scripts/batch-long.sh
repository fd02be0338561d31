#!/usr/bin/env bash
# Long batch: short files converted one after another through one converter
# object; prints handles, threads, GDI/USER objects, private memory and the
# filter graphs made after every 50 files, then fails if the counts at the
# end exceed those after the first files (less what the platform itself
# leaves per graph) or an object of the filter pack is still alive.
#   scripts/batch-long.sh [files=500]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
FILES="${1:-500}"
cd "$REPO"
sh tests/realmedia/make_test_media.sh build/test-media/realmedia ../shared/samples >/dev/null
source scripts/test-env.sh
vellumo_env_start
trap vellumo_env_stop EXIT
cd build/bin
"$REPO/scripts/wine-run.sh" fuzz_realmedia.exe --long-batch "$FILES" --timeout-ms 60000
