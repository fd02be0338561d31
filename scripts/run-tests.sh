#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the parsers of
# untrusted bytes natively under sanitizers (their regression cases and a short
# fuzz run, FUZZ_SECONDS per target), the platform-free MP3 units natively
# (scripts/test-native.sh), then everything else under Wine.
#   scripts/run-tests.sh [extra ctest arguments]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

source scripts/samples-dir.sh
if [ "$(id -u)" = 0 ]; then
  scripts/install-prereqs.sh
fi
scripts/build.sh

fuzz_status=0
FUZZ_JOBS="${FUZZ_JOBS:-$(nproc)}" scripts/fuzz-parsers.sh "${FUZZ_SECONDS:-20}" || fuzz_status=$?
native_status=0
scripts/test-native.sh || native_status=$?

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start

cd build
ctest_status=0
ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@" || ctest_status=$?
vellumo_env_check || ctest_status=1
[ "$ctest_status" != 0 ] && exit "$ctest_status"
[ "$native_status" != 0 ] && exit "$native_status"
exit "$fuzz_status"
