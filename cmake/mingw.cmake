# What both Windows cross builds share (Debian's mingw-w64 toolchains). The
# toolchain files set HADROK_MINGW_TRIPLE and the processor, then include this.

# The posix-threads variant: its libstdc++ has std::filesystem and the
# threading pieces that the win32-threads variant leaves out.
set(CMAKE_C_COMPILER ${HADROK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HADROK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HADROK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HADROK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests of the build run the programs under Wine; Debian's wine starts a
# 64-bit program with wine64 when no 32-bit Wine is installed.
find_program(HADROK_WINE wine)
if(HADROK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HADROK_WINE})
endif()
