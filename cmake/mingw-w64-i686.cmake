# Cross-compile Zarvel for 32-bit Windows with MinGW-w64 (posix thread model,
# needed for std::thread / std::mutex / std::condition_variable).
# The result is one self-contained .exe (no libstdc++/libgcc/winpthread DLLs).
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#   cmake --build build-win32 -j2 --target pbrain-zarvel      -> build-win32/pbrain-zarvel.exe
#
# The tests are not built in cross builds; tools/windows_check.sh runs the turn transcripts
# of tests/turn_test.py under Wine. A 32-bit .exe needs wine32:i386 AND a kernel that can
# run 32-bit x86 programs; where the kernel has 32-bit emulation disabled, windows_check.sh
# registers qemu-i386 with binfmt_misc so that the 32-bit Wine loader runs through it.
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

# 8 MiB of stack for every thread, as on Linux (the PE default is 2 MiB; Windows threads
# get the executable's reserve).
# Large-address-aware: 4 GiB of address space on 64-bit Windows for the line table
# and the hash tables, instead of 2 GiB.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++ -Wl,--stack,8388608 -Wl,--large-address-aware")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

find_program(ZARVEL_WINE NAMES wine NO_CMAKE_FIND_ROOT_PATH)
if(ZARVEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${ZARVEL_WINE})
endif()
