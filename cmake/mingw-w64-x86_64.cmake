# Cross-builds the console program for 64-bit Windows with Debian's MinGW-w64 (posix threads):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The result runs under Wine here (./build.sh windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(AESSUITE_MINGW_TRIPLE x86_64-w64-mingw32 CACHE STRING "MinGW-w64 target triple")

set(CMAKE_C_COMPILER ${AESSUITE_MINGW_TRIPLE}-gcc-posix)  # GoogleTest's project asks for C too
set(CMAKE_CXX_COMPILER ${AESSUITE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${AESSUITE_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${AESSUITE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
