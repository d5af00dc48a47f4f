# Cross build of the same sources for 64-bit Windows (g++-mingw-w64-x86-64),
# so that the Windows suite runs under 64-bit Wine on machines that cannot
# start a 32-bit program:
#   cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(HADROK_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
