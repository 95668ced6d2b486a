# Cross-compile Zarvel for 32-bit Windows with MinGW-w64 (posix thread model,
# needed for std::thread / std::mutex / std::condition_variable).
# The result is one self-contained .exe (no libstdc++/libgcc/winpthread DLLs).
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# Tests run through Wine (CMAKE_CROSSCOMPILING_EMULATOR). A 32-bit .exe needs
# wine32:i386 AND a kernel that can run 32-bit x86 programs; where the kernel
# has 32-bit emulation disabled, the emulator cannot run them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(_zarvel_mingw_prefix i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${_zarvel_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zarvel_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER  ${_zarvel_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_zarvel_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

find_program(ZARVEL_WINE NAMES wine NO_CMAKE_FIND_ROOT_PATH)
if(ZARVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${ZARVEL_WINE})
endif()
