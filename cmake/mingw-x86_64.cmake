# Cross-builds the deliverables for 64-bit Windows with Debian's MinGW-w64.
# The tests use this build under wine where the machine cannot run 32-bit
# programs (and so no 32-bit wine):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(TARVIK_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
