# Cross toolchain for 32-bit Windows (build-only check of the system's own code).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELLUMO_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
