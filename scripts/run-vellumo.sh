#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vellumo under Wine.
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

if [ "$(id -u)" = 0 ]; then
  scripts/install-prereqs.sh
fi
scripts/build.sh --no-i686
# The program creates its converter control through the registration of corvane.dll.
(cd build/bin && "$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll)
exec scripts/wine-run.sh build/bin/vellumo.exe
