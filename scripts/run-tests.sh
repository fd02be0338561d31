#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the parsers of
# untrusted bytes natively under sanitizers (their regression cases and a short
# fuzz run, FUZZ_SECONDS per target), the platform-free MP3 units natively
# (scripts/test-native.sh), then everything else under Wine: the 64-bit build
# in the prefix .wine, then the 32-bit build in a prefix of its own,
# .wine-i686 (a 64-bit prefix: its programs run under WoW64, as on 64-bit
# Windows). The 32-bit part is skipped, saying so in one line, only on a
# machine whose kernel cannot execute 32-bit programs at all.
#   scripts/run-tests.sh [extra ctest arguments]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/fixed-layout.sh" "$0" "$@"
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

# run_suite <build folder> <prefix> [ctest arguments]
ctest_status=0
run_suite() {
  local dir="$1" status=0
  export VELLUMO_WINEPREFIX="$2" WINEPREFIX="$2"
  shift 2
  echo "run-tests: $dir (prefix $WINEPREFIX)"
  vellumo_env_start
  ( cd "$dir" && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@" ) || status=$?
  vellumo_env_check || status=1
  vellumo_env_stop
  [ "$status" = 0 ] || ctest_status="$status"
}

run_suite build "${VELLUMO_WINEPREFIX:-$REPO/.wine}" "$@"
if x86_reason="$(vellumo_x86_unavailable)"; then
  case "$x86_reason" in
    *"Exec format error"*) echo "run-tests: 32-bit tests skipped: $x86_reason" ;;
    *) echo "run-tests: the 32-bit tests cannot run: $x86_reason" >&2; ctest_status=1 ;;
  esac
else
  run_suite build-i686 "${VELLUMO_WINEPREFIX_I686:-$REPO/.wine-i686}" "$@"
fi
[ "$ctest_status" != 0 ] && exit "$ctest_status"
[ "$native_status" != 0 ] && exit "$native_status"
exit "$fuzz_status"
