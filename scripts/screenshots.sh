#!/usr/bin/env bash
# Takes the documentation's pictures of Vellumo's windows under Xvfb and
# stores them as PNG files in docs/.
#   scripts/screenshots.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/fixed-layout.sh" "$0" "$@"
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"
scripts/build.sh --no-i686

source scripts/test-env.sh
trap vellumo_env_stop EXIT
vellumo_env_start

OUT="$(mktemp -d)"
trap 'vellumo_env_stop; rm -rf "$OUT"' EXIT
(cd build/bin && "$REPO/scripts/wine-run.sh" regsvr32 /s corvane.dll)
# A Wine desktop window draws the windows' title bars (Xvfb has no window manager).
"$VELLUMO_WINE" explorer /desktop=vellumo-docs,1024x768 build/bin/vellumo_screenshots.exe "$("$VELLUMO_WINE" winepath -w "$OUT" 2>/dev/null)"
mkdir -p docs
for bmp in "$OUT"/*.bmp; do
  [ -e "$bmp" ] || continue
  ffmpeg -loglevel error -y -i "$bmp" "docs/$(basename "${bmp%.bmp}").png"
  echo "docs/$(basename "${bmp%.bmp}").png"
done
