# Finds the vendor's NI-DAQmx C library and its header.
#
# Linux: libnidaqmx.so. Windows: NIDAQmx.lib, the import library of the driver
# DLL nicaiu.dll, which the vendor installs under
# "National Instruments/Shared/ExternalCompilerSupport/C" (lib64/msvc for
# 64-bit programs, lib32/msvc for 32-bit ones).
#
# Hints: NIDAQmx_ROOT or the environment variable NIDAQMX_ROOT.
# Result: NIDAQmx_FOUND, NIDAQmx_INCLUDE_DIR, NIDAQmx_LIBRARY and the imported
# target NIDAQmx::NIDAQmx. The plug-in compiles against its own declarations
# (daqmx/NIDAQmx.h), which match the vendor's C interface, so only the library
# is strictly required; the header is reported when present.
if(WIN32)
  set(_nidaqmx_support "National Instruments/Shared/ExternalCompilerSupport/C")
  set(_nidaqmx_places)
  set(_nidaqmx_programs_x86 "ProgramFiles(x86)")
  foreach(_nidaqmx_programs "$ENV{${_nidaqmx_programs_x86}}" "$ENV{ProgramFiles}"
                            "C:/Program Files (x86)" "C:/Program Files")
    if(_nidaqmx_programs)
      file(TO_CMAKE_PATH "${_nidaqmx_programs}" _nidaqmx_programs)
      list(APPEND _nidaqmx_places "${_nidaqmx_programs}/${_nidaqmx_support}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _nidaqmx_places)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_nidaqmx_lib_suffixes lib64/msvc lib64 lib)
  else()
    set(_nidaqmx_lib_suffixes lib32/msvc lib32 lib)
  endif()
  find_path(NIDAQmx_INCLUDE_DIR NAMES NIDAQmx.h
    HINTS ${NIDAQmx_ROOT} ENV NIDAQMX_ROOT
    PATH_SUFFIXES include
    PATHS ${_nidaqmx_places})
  find_library(NIDAQmx_LIBRARY NAMES NIDAQmx
    HINTS ${NIDAQmx_ROOT} ENV NIDAQMX_ROOT
    PATH_SUFFIXES ${_nidaqmx_lib_suffixes}
    PATHS ${_nidaqmx_places}
    # The vendor's folder lies outside any cross-build's target root.
    NO_CMAKE_FIND_ROOT_PATH)
  set(_nidaqmx_missing "the vendor's NIDAQmx.lib (the import library of nicaiu.dll: install NI-DAQmx with its C support, or set NIDAQmx_ROOT)")
else()
  find_path(NIDAQmx_INCLUDE_DIR NAMES NIDAQmx.h
    HINTS ${NIDAQmx_ROOT} ENV NIDAQMX_ROOT
    PATH_SUFFIXES include
    PATHS /usr/local/natinst/nidaqmx /opt/natinst/nidaqmx /usr/include/ni /usr/local/include /usr/include)
  find_library(NIDAQmx_LIBRARY NAMES nidaqmx
    HINTS ${NIDAQmx_ROOT} ENV NIDAQMX_ROOT
    PATH_SUFFIXES lib64 lib lib/x86_64-linux-gnu
    PATHS /usr/local/natinst/nidaqmx /opt/natinst/nidaqmx /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib)
  set(_nidaqmx_missing "the vendor's libnidaqmx.so (install NI-DAQmx for Linux, or set NIDAQmx_ROOT)")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(NIDAQmx
  REQUIRED_VARS NIDAQmx_LIBRARY
  FAIL_MESSAGE "NI-DAQmx was not found: NI_USB_DAQ_REAL_DAQMX=ON needs ${_nidaqmx_missing}. Leave the option OFF to build against the simulated driver.")

if(NIDAQmx_FOUND AND NOT TARGET NIDAQmx::NIDAQmx)
  add_library(NIDAQmx::NIDAQmx UNKNOWN IMPORTED)
  set_target_properties(NIDAQmx::NIDAQmx PROPERTIES IMPORTED_LOCATION "${NIDAQmx_LIBRARY}")
endif()
mark_as_advanced(NIDAQmx_INCLUDE_DIR NIDAQmx_LIBRARY)
unset(_nidaqmx_support)
unset(_nidaqmx_places)
unset(_nidaqmx_programs)
unset(_nidaqmx_programs_x86)
unset(_nidaqmx_lib_suffixes)
unset(_nidaqmx_missing)
