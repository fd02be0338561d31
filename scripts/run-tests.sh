#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
#   scripts/run-tests.sh [extra ctest arguments]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

if [ "$(id -u)" = 0 ]; then
  scripts/install-prereqs.sh
fi
scripts/build.sh

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start

cd build
ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@"
