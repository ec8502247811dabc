# What the cross-builds for Windows with Debian's MinGW-w64 compilers share;
# mingw-w64-x86_64.cmake and mingw-w64-i686.cmake choose the processor.
#
# The POSIX thread model is required: GCC 12's win32 model has no std::thread.
# Libraries built for the target (GoogleTest) are looked up under the prefixes
# in CMAKE_FIND_ROOT_PATH; scripts/test windows prepares one. Programs made for
# the target run under Wine where one is installed (ctest, test discovery).
set(CMAKE_SYSTEM_NAME Windows)
set(NI_USB_DAQ_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${NI_USB_DAQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NI_USB_DAQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NI_USB_DAQ_MINGW_TRIPLE}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${NI_USB_DAQ_MINGW_TRIPLE})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthread) goes into every
# program and DLL, so they load on a Windows machine that has none of it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

find_program(NI_USB_DAQ_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(NI_USB_DAQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NI_USB_DAQ_WINE})
endif()
