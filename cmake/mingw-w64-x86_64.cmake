# Cross-compile Zarvel for 64-bit Windows with MinGW-w64 (posix thread model,
# needed for std::thread / std::mutex / std::condition_variable).
# The result is one self-contained .exe (no libstdc++/libgcc/winpthread DLLs).
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win64 -j2 --target pbrain-zarvel      -> build-win64/pbrain-zarvel64.exe
#
# The tests are not built in cross builds; tools/windows_check.sh runs the turn transcripts
# of tests/turn_test.py under Wine. For anything CMake itself runs
# (CMAKE_CROSSCOMPILING_EMULATOR), the 64-bit Wine loader is called directly: Debian's
# /usr/bin/wine launcher prefers the 32-bit loader whenever wine32:i386 is installed, which
# fails on kernels without 32-bit emulation ("Exec format error") even for 64-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_zarvel_mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_zarvel_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zarvel_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER  ${_zarvel_mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_zarvel_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# 8 MiB of stack for every thread, as on Linux (the PE default is 2 MiB; Windows threads
# get the executable's reserve).
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++ -Wl,--stack,8388608")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

find_program(ZARVEL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(NOT ZARVEL_WINE64)
  find_program(ZARVEL_WINE64 NAMES wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(ZARVEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINELOADER=${ZARVEL_WINE64} ${ZARVEL_WINE64})
endif()
