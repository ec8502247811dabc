#pragma once

#include "daqmx/NIDAQmx.h"

namespace daqmx_sim {

/// For the handler of an exception that reached an exported function: the
/// status the function returns instead (DAQmxErrorPALMemoryFull when memory
/// ran short, else DAQMXSIM_ERROR_INTERNAL), with the calling thread's error
/// text naming `function` and the reason. A C caller cannot catch, so every
/// exported function ends in such a handler. Call it from a catch block only.
int32 escapedException(const char* function) noexcept;

}  // namespace daqmx_sim
