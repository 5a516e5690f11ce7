# Cross-compiling for 64-bit Windows with Debian's mingw-w64 toolchain.
# The "-posix" compilers use the winpthreads threading model, which std::thread
# and std::mutex need; the "-win32" ones lack them in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under wine: CTest and test discovery go through it.
find_program(REELMENDER_WINE NAMES wine wine64)
if(REELMENDER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${REELMENDER_WINE})
endif()

# One self-contained .exe per program: no libstdc++, libgcc or winpthread DLLs
# to ship next to it (or to point wine at).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
