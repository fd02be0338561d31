#!/usr/bin/env bash
# Builds everything: the third-party libraries (cached), the 64-bit tree in
# build/ and the 32-bit check of the system's own code in build-i686/.
#   scripts/build.sh [--no-i686]
set -euo pipefail
REPO="$(cd "$(dirname "$0")/.." && pwd)"
cd "$REPO"

DEPS="$(scripts/build-deps.sh x86_64-w64-mingw32 | tail -1)"
BUILD_TYPE="${VELLUMO_BUILD_TYPE:-RelWithDebInfo}"

if [ ! -f build/build.ninja ] || ! grep -qs "VELLUMO_DEPS_DIR:PATH=$DEPS\$" build/CMakeCache.txt; then
  cmake -S . -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake \
    -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVELLUMO_DEPS_DIR="$DEPS" >/dev/null
fi
cmake --build build

if [ "${1:-}" != "--no-i686" ]; then
  # 32-bit Windows is the original target: the system's own code must keep building for it.
  if [ ! -f build-i686/build.ninja ]; then
    cmake -S . -B build-i686 -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
      -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVELLUMO_SYSTEM_ONLY=ON >/dev/null
  fi
  cmake --build build-i686
fi
