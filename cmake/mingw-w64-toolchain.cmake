# The part of the cross toolchain files that is the same for every target:
# the mingw-w64 -posix compilers for VELLUMO_TRIPLE (they carry std::thread
# and std::mutex) and its sysroot.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${VELLUMO_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLUMO_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${VELLUMO_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELLUMO_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
