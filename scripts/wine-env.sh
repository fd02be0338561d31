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
# Wine's 32-bit loader (package wine32:i386): with it a 64-bit prefix runs
# 32-bit programs too (WoW64), as 64-bit Windows does.
VELLUMO_WINE32="${VELLUMO_WINE32:-/usr/lib/wine/wine}"
export VELLUMO_WINE32

# Says in one line why this machine cannot run 32-bit Windows programs, and
# fails; says nothing when it can.
vellumo_x86_unavailable() {
  if [ ! -x "$VELLUMO_WINE32" ]; then
    echo "Wine's 32-bit loader $VELLUMO_WINE32 is missing (install wine32:i386)"
    return 0
  fi
  local out
  out="$("$VELLUMO_WINE32" --version 2>&1)" && return 1
  case "$out" in
    *"Exec format error"*) echo "this machine's kernel cannot execute 32-bit programs (Exec format error)" ;;
    *) echo "Wine's 32-bit loader does not start: $out" ;;
  esac
  return 0
}

# Creates the prefix on first use (wineboot), once even when called in
# parallel, and gives it the fonts (below).
vellumo_wine_prefix_ready() {
  [ -f "$WINEPREFIX/.vellumo-ready" ] && [ -f "$WINEPREFIX/.vellumo-fonts" ] \
    && { [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] || [ ! -x "$VELLUMO_WINE32" ]; } && return 0
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
    # A prefix made before Wine's 32-bit part was installed has no 32-bit
    # system folder: brought up to date, it gets one.
    if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] && ! vellumo_x86_unavailable >/dev/null; then
      echo "wine: adding the 32-bit system to $WINEPREFIX" >&2
      rm -f "$WINEPREFIX/.update-timestamp"
      DISPLAY= "$VELLUMO_WINE" wineboot -u >/dev/null 2>&1 || true
      "$VELLUMO_WINESERVER" -w
    fi
    [ -f "$WINEPREFIX/.vellumo-fonts" ] || vellumo_wine_fonts
  ) 9>"$WINEPREFIX.lock"
}

# Wine's own fonts (Debian package fonts-wine) and a Chinese font
# (fonts-wqy-microhei) for the prefix. Debian 12's Wine 8 looks for its own
# fonts under "<data dir>\../fonts", a path it cannot open, so it never
# finds them and the title-bar buttons show the letters "0 1 r" instead of
# marlett's glyphs: the TrueType files are linked into the prefix's Fonts
# folder, which Wine reads. Chinese, Japanese and Korean text falls back to
# WenQuanYi Micro Hei: in the program's controls (MS Sans Serif) through a
# font link, in the dialogs (Tahoma) through Wine's own links to SimSun.
# Done once, when fonts-wine is installed.
vellumo_wine_fonts() {
  local wine_fonts=/usr/share/wine/fonts cjk=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
  local fonts="$WINEPREFIX/drive_c/windows/Fonts" f
  [ -f "$wine_fonts/marlett.ttf" ] || return 0
  mkdir -p "$fonts"
  for f in "$wine_fonts"/*.ttf; do
    [ -e "$fonts/${f##*/}" ] || ln -s "$f" "$fonts/${f##*/}"
  done
  if [ -f "$cjk" ]; then
    DISPLAY= "$VELLUMO_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v "MS Sans Serif" /t REG_MULTI_SZ /d "${cjk##*/},WenQuanYi Micro Hei" /f >/dev/null 2>&1 || return 0
    DISPLAY= "$VELLUMO_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v SimSun /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1 || return 0
    # The session these ran in has no display: let it end, so that the next
    # Windows process starts the desktop with the display of its own.
    "$VELLUMO_WINESERVER" -w
  fi
  touch "$WINEPREFIX/.vellumo-fonts"
}
