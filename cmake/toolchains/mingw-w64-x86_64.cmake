# Cross-build for 64-bit Windows with Debian's MinGW-w64 compilers.
#
#   cmake -S . -B build-windows --toolchain cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DCMAKE_FIND_ROOT_PATH=/path/to/target-prefix
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
