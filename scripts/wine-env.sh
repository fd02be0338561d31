# Sourced by the Wine scripts: the project's Wine environment and its prefix.
_vellumo_repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${VELLUMO_WINEPREFIX:-$_vellumo_repo/.wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEARCH=win64
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
VELLUMO_WINE="$(command -v wine64 || echo /usr/lib/wine/wine64)"
VELLUMO_WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
if [ ! -x "$VELLUMO_WINESERVER" ] && [ -x /usr/lib/wine/wineserver64 ]; then
  VELLUMO_WINESERVER=/usr/lib/wine/wineserver64
fi
export VELLUMO_WINE VELLUMO_WINESERVER

# Creates the prefix on first use (wineboot), once even when called in parallel.
vellumo_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.vellumo-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.vellumo-ready" ]; then
      echo "wine: creating prefix $WINEPREFIX" >&2
      DISPLAY= "$VELLUMO_WINE" wineboot -i >/dev/null 2>&1 || true
      "$VELLUMO_WINESERVER" -w
      [ -f "$WINEPREFIX/system.reg" ] || { echo "wine: prefix creation failed" >&2; exit 1; }
      touch "$WINEPREFIX/.vellumo-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
