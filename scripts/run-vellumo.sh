#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vellumo under Wine.
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

if [ "$(id -u)" = 0 ]; then
  scripts/install-prereqs.sh
fi
scripts/build.sh --no-i686
exec scripts/wine-run.sh build/bin/vellumo.exe
