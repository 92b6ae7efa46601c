# Cross build for Windows on x86-64 with Debian's mingw-w64 (its POSIX
# threads flavour, for std::thread); the tests run under Wine, and
# GoogleTest is built from the sources that Debian's googletest package
# ships. Linked statically, so that the command needs no DLL beside it.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine)
set(VBLOCKS_GTEST_SOURCE /usr/src/googletest CACHE PATH "")
