# Cross build of histrel.exe for 32-bit Windows with mingw-w64 (Debian's
# g++-mingw-w64-i686). The -posix compiler variant is used: the win32 thread
# model has no std::recursive_mutex, which the C++ library needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run under Wine wherever CMake or CTest runs them; the project
# narrows this to a private 32-bit prefix inside the build directory.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
