#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's own prefix and returns
# its exit code. Used by hand, by the scripts and as CMAKE_CROSSCOMPILING_EMULATOR.
#
#   scripts/wine-run.sh program.exe [args...]
#
# VELLUMO_WINEPREFIX overrides the prefix (default: .wine in the checkout).
# Without a DISPLAY the program gets its own Xvfb; scripts/test-env.sh starts
# one shared Xvfb and a persistent wineserver for a whole test run instead.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/fixed-layout.sh" "$0" "$@"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=wine-env.sh
source "$HERE/wine-env.sh"
vellumo_wine_prefix_ready

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$VELLUMO_WINE" "$@"
fi
exec "$VELLUMO_WINE" "$@"
