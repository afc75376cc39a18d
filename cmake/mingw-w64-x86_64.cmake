# Cross build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64).
# Executables are linked statically, so that a bare Windows machine or a fresh wine prefix runs
# them without the MinGW runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CONV_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model carries std::thread and std::mutex on every GCC; the win32 one gained
# them only in GCC 13.
find_program(CONV_MINGW_CXX NAMES ${CONV_MINGW_TRIPLET}-g++-posix ${CONV_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(CONV_MINGW_CC NAMES ${CONV_MINGW_TRIPLET}-gcc-posix ${CONV_MINGW_TRIPLET}-gcc
             REQUIRED)
set(CMAKE_CXX_COMPILER ${CONV_MINGW_CXX})
set(CMAKE_C_COMPILER ${CONV_MINGW_CC})
find_program(CMAKE_RC_COMPILER NAMES ${CONV_MINGW_TRIPLET}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Look for libraries and packages only in the target's root (and in whatever the caller adds to
# CMAKE_FIND_ROOT_PATH, such as a cross-built GoogleTest); programs come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${CONV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under wine on the build machine.
find_program(CONV_WINE NAMES wine wine64)
if(CONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CONV_WINE})
endif()
