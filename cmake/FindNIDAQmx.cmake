# Finds the vendor's NI-DAQmx C library (libnidaqmx.so) and its header.
#
# Hints: NIDAQmx_ROOT or the environment variable NIDAQMX_ROOT.
# Result: NIDAQmx_FOUND, NIDAQmx_INCLUDE_DIR, NIDAQmx_LIBRARY and the imported
# target NIDAQmx::NIDAQmx. The plug-in compiles against its own declarations
# (daqmx/NIDAQmx.h), which match the vendor's C interface, so only the library
# is strictly required; the header is reported when present.
find_path(NIDAQmx_INCLUDE_DIR NAMES NIDAQmx.h
  HINTS ${NIDAQmx_ROOT} ENV NIDAQMX_ROOT
  PATH_SUFFIXES include
  PATHS /usr/local/natinst/nidaqmx /opt/natinst/nidaqmx /usr/include/ni /usr/local/include /usr/include)
find_library(NIDAQmx_LIBRARY NAMES nidaqmx
  HINTS ${NIDAQmx_ROOT} ENV NIDAQMX_ROOT
  PATH_SUFFIXES lib64 lib lib/x86_64-linux-gnu
  PATHS /usr/local/natinst/nidaqmx /opt/natinst/nidaqmx /usr/lib/x86_64-linux-gnu /usr/lib64 /usr/lib)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(NIDAQmx
  REQUIRED_VARS NIDAQmx_LIBRARY
  FAIL_MESSAGE "NI-DAQmx was not found: NI_USB_DAQ_REAL_DAQMX=ON needs the vendor's libnidaqmx.so (install NI-DAQmx for Linux, or set NIDAQmx_ROOT). Leave the option OFF to build against the simulated driver.")

if(NIDAQmx_FOUND AND NOT TARGET NIDAQmx::NIDAQmx)
  add_library(NIDAQmx::NIDAQmx UNKNOWN IMPORTED)
  set_target_properties(NIDAQmx::NIDAQmx PROPERTIES IMPORTED_LOCATION "${NIDAQmx_LIBRARY}")
endif()
mark_as_advanced(NIDAQmx_INCLUDE_DIR NIDAQmx_LIBRARY)
