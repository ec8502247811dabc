# Cross-build for 32-bit Windows, where the driver's calls are __stdcall.
#
#   cmake -S . -B build-windows32 --toolchain cmake/toolchains/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
