# Cross toolchain for 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELLUMO_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-toolchain.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
