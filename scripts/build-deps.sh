#!/usr/bin/env bash
# Cross-builds the third-party libraries (FFmpeg, LAME) as static libraries for
# Windows from Debian's source packages, into a cache outside the checkout.
# Prints the prefix on its last line. A second call with the same sources and
# recipe finds the cache and only re-runs the link check.
#
#   scripts/build-deps.sh [triple]     (default x86_64-w64-mingw32)
#   scripts/build-deps.sh native-asan  FFmpeg alone, built natively with clang,
#                                      AddressSanitizer, UndefinedBehaviorSanitizer
#                                      and libFuzzer's coverage (for the fuzz targets)
set -euo pipefail

# Native LAME (same Debian source, same recipe) for the platform-free MP3
# units' native tests and benchmarks: into its own prefix; prints it.
#   scripts/build-deps.sh native-lame
build_native_lame() {
  local ver hash prefix work src
  ver="$(apt-cache showsrc lame 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -1)"
  [ -n "$ver" ] || { echo "build-deps: Debian source version of lame unknown (run scripts/install-prereqs.sh first)" >&2; return 1; }
  hash="$(printf '%s\n' "$LAME_NATIVE_CFLAGS" "${LAME_NATIVE_FLAGS[*]}" | sha1sum | cut -c1-10)"
  prefix="$CACHE_ROOT/native/lame-${ver//:/_}_$hash"
  if [ ! -f "$prefix/.complete" ]; then
    mkdir -p "$CACHE_ROOT/native"
    exec 8>"$prefix.lock"
    flock 8
  fi
  if [ ! -f "$prefix/.complete" ]; then
    echo "build-deps: building native LAME $ver" >&2
    work="$CACHE_ROOT/work-native-lame-$$"
    rm -rf "$prefix" "$work"; mkdir -p "$work"
    ( cd "$work" && apt-get source -q --download-only lame >&2 && dpkg-source -x lame_*.dsc >/dev/null ) || { rm -rf "$work"; return 1; }
    src="$(find "$work" -maxdepth 1 -type d -name 'lame-*' | head -1)"
    ( cd "$src" && CFLAGS="$LAME_NATIVE_CFLAGS" ./configure --prefix="$prefix" "${LAME_NATIVE_FLAGS[@]}" >"$work/configure.log" 2>&1 \
        && make -j"$(nproc)" >"$work/make.log" 2>&1 && make install >/dev/null ) \
      || { tail -30 "$work"/*.log >&2; rm -rf "$work"; return 1; }
    rm -rf "$work"
    touch "$prefix/.complete"
  fi
  echo "$prefix"
}
LAME_NATIVE_FLAGS=(--disable-shared --enable-static --disable-frontend --disable-gtktest --disable-decoder --enable-nasm --with-pic)
LAME_NATIVE_CFLAGS="-O2 -fomit-frame-pointer"
if [ "${1:-}" = native-lame ]; then
  CACHE_ROOT="${VELLUMO_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vellumo/deps}"
  build_native_lame
  exit
fi

TRIPLE="${1:-x86_64-w64-mingw32}"
CACHE_ROOT="${VELLUMO_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vellumo/deps}"
HERE="$(cd "$(dirname "$0")" && pwd)"
JOBS="$(nproc)"

# The 32-bit build requires SSE2 (as the program does) and does its floating
# point there rather than on the x87 stack.
TARGET_CFLAGS=""
case "$TRIPLE" in
  x86_64-w64-mingw32) ARCH=x86_64 ;;
  i686-w64-mingw32)   ARCH=x86; TARGET_CFLAGS="-msse2 -mfpmath=sse" ;;
  native-asan)        ARCH=native ;;
  *) echo "build-deps: unknown target $TRIPLE" >&2; exit 2 ;;
esac

src_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -1
}
FFMPEG_VER="$(src_version ffmpeg)"
LAME_VER="$(src_version lame)"
if [ -z "$FFMPEG_VER" ] || [ -z "$LAME_VER" ]; then
  echo "build-deps: Debian source versions unknown (run scripts/install-prereqs.sh first)" >&2
  exit 1
fi

FFMPEG_FLAGS=(
  --disable-everything --disable-autodetect --disable-programs --disable-doc
  --disable-network --disable-avdevice --disable-avfilter --disable-postproc
  --disable-swscale --disable-debug
  --enable-static --disable-shared --enable-pic
  --enable-avformat --enable-avcodec --enable-swresample --enable-avutil
  --enable-demuxer=rm --enable-protocol=file
  --enable-decoder=cook,sipr,ra_144,ra_288,atrac3,aac,ac3,ralf
  --enable-parser=aac,ac3,cook,sipr
)
LAME_FLAGS=(--disable-shared --enable-static --disable-frontend --disable-gtktest
            --disable-decoder --enable-nasm)
# LAME's configure leaves CFLAGS empty for this host (no optimisation at all).
# Generic x86-64 only (never -march=native: the binaries run on users'
# machines). -O3 was measured against -O2 on a 204-second cook file to MP3:
# the same CPU time within the noise, so -O2 stays; -ffast-math would change
# the encoded frames. FFmpeg's configure builds with -O3 by itself.
LAME_CFLAGS="-O2 -fomit-frame-pointer"

# libavformat's RealMedia demuxer adds an index entry for every key packet it
# reads (for audio, every packet), whatever AVFMT_FLAG_IGNIDX says: an hour of
# AC3 keeps over 2 MB of index the splitter never uses (it seeks by reading
# forward from the start), so memory grew with the file's length. The flag is
# honoured there as it already is for the file's own index chunk.
RMDEC_SED='s/if((flags&2) \&\& (seq&0x7F) == 1)$/if((flags\&2) \&\& (seq\&0x7F) == 1 \&\& !(s->flags \& AVFMT_FLAG_IGNIDX))/'
RMDEC_APPLIED='(seq&0x7F) == 1 && !(s->flags & AVFMT_FLAG_IGNIDX))'

# The same FFmpeg (Debian's source, the same components, the same patch) for
# the native fuzz targets: clang with AddressSanitizer and
# UndefinedBehaviorSanitizer, and libFuzzer's edge coverage so that the
# fuzzer sees inside the demuxer and decoders. No assembly: the sanitizers
# cannot see into it.
FFMPEG_ASAN_CFLAGS="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all -fsanitize=fuzzer-no-link"
build_native_asan_ffmpeg() {
  local hash prefix ffsrc t0
  hash="$(printf '%s\n' "${FFMPEG_FLAGS[*]}" "$RMDEC_SED" "$FFMPEG_ASAN_CFLAGS" | sha1sum | cut -c1-10)"
  prefix="$CACHE_ROOT/native-asan/ffmpeg-${FFMPEG_VER//:/_}_${hash}"
  if [ -f "$prefix/.complete" ]; then
    echo "build-deps: cached in $prefix" >&2; echo "$prefix"; return 0
  fi
  mkdir -p "$CACHE_ROOT/native-asan"
  exec 9>"$prefix.lock"
  flock 9
  if [ -f "$prefix/.complete" ]; then
    echo "build-deps: cached in $prefix" >&2; echo "$prefix"; return 0
  fi
  echo "build-deps: building FFmpeg $FFMPEG_VER natively with sanitizers" >&2
  rm -rf "$prefix"
  ASAN_WORK="$CACHE_ROOT/work-native-asan-$$"
  local work="$ASAN_WORK"
  rm -rf "$work"; mkdir -p "$work"
  trap 'rm -rf "$ASAN_WORK"' EXIT
  ( cd "$work" && apt-get source -q --download-only ffmpeg >&2 \
    && for d in *.dsc; do dpkg-source -x "$d" >/dev/null; done )
  ffsrc="$(find "$work" -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)"
  sed -i "$RMDEC_SED" "$ffsrc/libavformat/rmdec.c"
  grep -qF "$RMDEC_APPLIED" "$ffsrc/libavformat/rmdec.c" \
    || { echo "build-deps: the RealMedia demuxer's index patch does not apply" >&2; exit 1; }
  t0=$(date +%s)
  mkdir -p "$work/ffbuild"
  ( cd "$work/ffbuild" && "$ffsrc/configure" --prefix="$prefix" --cc=clang-14 --cxx=clang++-14 \
      --disable-asm --extra-cflags="$FFMPEG_ASAN_CFLAGS" --extra-ldflags="-fsanitize=address,undefined" \
      "${FFMPEG_FLAGS[@]}" >"$work/ffconfigure.log" 2>&1 \
    || { tail -30 "$work/ffconfigure.log" >&2; exit 1; }
    make -j"$JOBS" >"$work/ffmake.log" 2>&1 || { tail -40 "$work/ffmake.log" >&2; exit 1; }
    make install >/dev/null ) || exit 1
  echo "build-deps: sanitized FFmpeg built in $(( $(date +%s) - t0 )) s" >&2
  touch "$prefix/.complete"
  echo "$prefix"
}
if [ "$TRIPLE" = native-asan ]; then
  build_native_asan_ffmpeg
  exit 0
fi

RECIPE_HASH="$(printf '%s\n' "${FFMPEG_FLAGS[*]}" "${LAME_FLAGS[*]}" "$LAME_CFLAGS" "$RMDEC_SED" $TARGET_CFLAGS "$(sed -n '/^link_check()/,/^}/p' "$0")" | sha1sum | cut -c1-10)"
PREFIX="$CACHE_ROOT/$TRIPLE/ffmpeg-${FFMPEG_VER//:/_}_lame-${LAME_VER//:/_}_${RECIPE_HASH}"

link_check() {
  local dir; dir="$(mktemp -d)"
  cat > "$dir/check.c" <<'C'
#include <libavformat/avformat.h>
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
#include <lame/lame.h>
int main(void) {
  const AVCodec *c = avcodec_find_decoder(AV_CODEC_ID_COOK);
  const AVInputFormat *f = av_find_input_format("rm");
  lame_global_flags *l = lame_init();
  SwrContext *s = swr_alloc();
  int ok = c && f && l && s;
  swr_free(&s); lame_close(l);
  return ok ? 0 : 1;
}
C
  "$TRIPLE-gcc-posix" -o "$dir/check.exe" "$dir/check.c" -I"$PREFIX/include" -L"$PREFIX/lib" \
    -lavformat -lavcodec -lswresample -lavutil -lmp3lame -lbcrypt -lws2_32 -lsecur32 -static \
    >"$dir/log" 2>&1 || { cat "$dir/log" >&2; rm -rf "$dir"; return 1; }
  rm -rf "$dir"
}

if [ -f "$PREFIX/.complete" ] && link_check; then
  echo "build-deps: cached in $PREFIX" >&2
  echo "$PREFIX"
  exit 0
fi

# One build at a time per prefix (several checkouts may share the cache).
mkdir -p "$CACHE_ROOT/$TRIPLE"
exec 9>"$PREFIX.lock"
flock 9
if [ -f "$PREFIX/.complete" ] && link_check; then
  echo "build-deps: cached in $PREFIX" >&2
  echo "$PREFIX"
  exit 0
fi

echo "build-deps: building FFmpeg $FFMPEG_VER and LAME $LAME_VER for $TRIPLE" >&2
rm -rf "$PREFIX"
WORK="$CACHE_ROOT/work-$TRIPLE-$$"
rm -rf "$WORK"; mkdir -p "$WORK"
trap 'rm -rf "$WORK"' EXIT

( cd "$WORK" && apt-get source -q --download-only ffmpeg lame >&2 \
  && for d in *.dsc; do dpkg-source -x "$d" >/dev/null; done )

FFSRC="$(find "$WORK" -maxdepth 1 -type d -name 'ffmpeg-*' | head -1)"
LAMESRC="$(find "$WORK" -maxdepth 1 -type d -name 'lame-*' | head -1)"

RMDEC="$FFSRC/libavformat/rmdec.c"
sed -i "$RMDEC_SED" "$RMDEC"
grep -qF "$RMDEC_APPLIED" "$RMDEC" || { echo "build-deps: the RealMedia demuxer's index patch does not apply to $RMDEC" >&2; exit 1; }

t0=$(date +%s)
mkdir -p "$WORK/ffbuild"
( cd "$WORK/ffbuild" && "$FFSRC/configure" --prefix="$PREFIX" \
    --target-os=mingw32 --arch="$ARCH" --enable-cross-compile \
    --cross-prefix="$TRIPLE-" --cc="$TRIPLE-gcc-posix" --cxx="$TRIPLE-g++-posix" \
    ${TARGET_CFLAGS:+--extra-cflags="$TARGET_CFLAGS"} "${FFMPEG_FLAGS[@]}" >"$WORK/ffconfigure.log" 2>&1 \
  || { tail -30 "$WORK/ffconfigure.log" >&2; exit 1; }
  make -j"$JOBS" >"$WORK/ffmake.log" 2>&1 || { tail -40 "$WORK/ffmake.log" >&2; exit 1; }
  make install >/dev/null )
t1=$(date +%s)
echo "build-deps: FFmpeg built in $((t1 - t0)) s" >&2

( cd "$LAMESRC" && CC="$TRIPLE-gcc-posix" CFLAGS="$LAME_CFLAGS $TARGET_CFLAGS" ./configure --host="$TRIPLE" --prefix="$PREFIX" \
    "${LAME_FLAGS[@]}" >"$WORK/lameconfigure.log" 2>&1 \
  || { tail -30 "$WORK/lameconfigure.log" >&2; exit 1; }
  make -j"$JOBS" >"$WORK/lamemake.log" 2>&1 || { tail -40 "$WORK/lamemake.log" >&2; exit 1; }
  make install >/dev/null )
t2=$(date +%s)
echo "build-deps: LAME built in $((t2 - t1)) s" >&2

link_check
touch "$PREFIX/.complete"
echo "$PREFIX"
