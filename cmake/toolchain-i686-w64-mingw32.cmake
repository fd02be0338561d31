# Cross toolchain for 32-bit Windows (x86; SSE2 required, as by every Windows since 8).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELLUMO_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
# SSE2 for floating point instead of the x87 stack: faster, and the same
# rounding as the 64-bit build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
