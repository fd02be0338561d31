#!/usr/bin/env bash
# Installs everything the build and the tests need on Debian 12 (run as root).
# Idempotent: when every package is already there it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential dpkg-dev pkg-config make
  mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  libwine-dev wine wine64
  # Wine's 32-bit half: 32-bit Windows programs in a 64-bit prefix (WoW64)
  # and 32-bit prefixes, for the tests of the 32-bit build.
  wine32:i386
  # Wine's own fonts (marlett draws the title-bar buttons; plain apt-get
  # install wine brings them as a recommendation, --no-install-recommends
  # does not) and a font for Chinese file names.
  fonts-wine fonts-wqy-microhei
  xvfb xauth
  nasm cmake ninja-build
  ffmpeg
  # A second MP3 decoder for the joined streams of the parallel encoder.
  mpg123
  # Native fuzzing of the parsers: clang with libFuzzer and the sanitizers.
  clang-14 libclang-rt-14-dev
  googletest
  locales
  fp-utils
  python3
  nsis
)

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_i386=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

need_src=0
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  need_src=1
fi

if [ "$need_src" = 1 ]; then
  # Source packages (FFmpeg, LAME) come from Debian's deb-src lines, kept in a file of our own.
  cat > /etc/apt/sources.list.d/vellumo-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

if [ "${#missing[@]}" -gt 0 ] || [ "$need_src" = 1 ] || [ "$need_i386" = 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "install-prereqs: missing packages (${missing[*]}); run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  [ "$need_i386" = 1 ] && dpkg --add-architecture i386
  apt-get update -q
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "install-prereqs: installing ${missing[*]}"
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi

# zh_CN.UTF-8 gives Wine processes the ANSI code page 936.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf8$'; then
  sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

echo "install-prereqs: ok"
