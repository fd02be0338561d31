#!/usr/bin/env bash
# Builds everything: the third-party libraries (cached) and the whole product
# with its tests and benchmarks twice, for 64-bit Windows in build/ and for
# 32-bit Windows in build-i686/.
#   scripts/build.sh [--no-i686]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

BUILD_TYPE="${VELLUMO_BUILD_TYPE:-RelWithDebInfo}"

# build_tree <folder> <triple> [cmake options]
build_tree() {
  local dir="$1" triple="$2" deps option configure=0
  shift 2
  deps="$(scripts/build-deps.sh "$triple" | tail -1)"
  if [ ! -f "$dir/build.ninja" ] || ! grep -qs "VELLUMO_DEPS_DIR:PATH=$deps\$" "$dir/CMakeCache.txt"; then
    rm -f "$dir/CMakeCache.txt"
    configure=1
  fi
  for option in "$@"; do
    option="${option#-D}"
    grep -qsx "${option%%=*}:PATH=${option#*=}" "$dir/CMakeCache.txt" || configure=1
  done
  if [ "$configure" = 1 ]; then
    cmake -S . -B "$dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$triple.cmake" \
      -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVELLUMO_DEPS_DIR="$deps" "$@" >/dev/null
  fi
  cmake --build "$dir"
}

# The 32-bit tree first: the 64-bit tree's setup program carries its binaries,
# and its tests of both sets side by side use them.
if [ "${1:-}" != "--no-i686" ]; then
  build_tree build-i686 i686-w64-mingw32
  build_tree build x86_64-w64-mingw32 -DVELLUMO_X86_BINDIR="$REPO/build-i686/bin"
else
  build_tree build x86_64-w64-mingw32
fi
