#!/usr/bin/env bash
# Takes the README's picture of the setup program (its first page) under
# Xvfb in a throw-away Wine prefix, as docs/setup-welcome.png.
#   installer/screenshot.sh [build/vellumo-setup-<version>.exe]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
SETUP="$(realpath "${1:-$(ls "$REPO"/build/vellumo-setup-*.exe | head -1)}")"
WORK="$(mktemp -d)"
export WINEPREFIX="$WORK/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"

for n in $(seq 160 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
XVFB=$!
cleanup() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  kill "$XVFB" 2>/dev/null || true
  wait "$XVFB" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
export DISPLAY=":$n"
sleep 1
"$WINE" wineboot -i >/dev/null 2>&1
# Wine's fonts, as the project's own prefix has them (title-bar buttons).
VELLUMO_WINEPREFIX="$WINEPREFIX" source "$REPO/scripts/wine-env.sh"
vellumo_wine_fonts
timeout 120 "$WINESERVER" -w
# A Wine desktop window draws the title bar (Xvfb has no window manager).
"$WINE" explorer /desktop=setup,640x480 "$SETUP" >/dev/null 2>&1 </dev/null &
sleep 10
mkdir -p "$REPO/docs"
ffmpeg -loglevel error -y -f x11grab -video_size 640x480 -i ":$n+0,0" -frames:v 1 "$REPO/docs/setup-welcome.png"
echo "docs/setup-welcome.png"
