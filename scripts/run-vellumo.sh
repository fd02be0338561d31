#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vellumo under Wine.
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

if [ "$(id -u)" = 0 ]; then
  scripts/install-prereqs.sh
fi
scripts/build.sh --no-i686
# The program creates its converter control through the registration of
# corvane.dll; the converter's graphs need the filter pack, registered while
# Vellumo runs (the tests of the platform's own filters share this prefix).
cd build/bin
"$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll
"$REPO/scripts/wine-run.sh" regsvr32 /s vellumo_filters.dll
trap '"$REPO/scripts/wine-run.sh" regsvr32 /u /s vellumo_filters.dll' EXIT
"$REPO/scripts/wine-run.sh" vellumo.exe
