#pragma once

#include <cstddef>
#include <string>

#include "daqmx/NIDAQmx.h"

namespace kra::device::stubs {

/// Buffer sizes for the driver's extended error text: the stub reads at most
/// 1023 characters, the acquisition engine at most 2047.
inline constexpr std::size_t kStubErrorTextBufferSize = 1024;
inline constexpr std::size_t kEngineErrorTextBufferSize = 2048;

/// "DAQmx error <status>: <extended text>". The extended text describes the
/// last failure of the calling thread, so call this right after the failing
/// call, before any other driver call.
std::string daqmxErrorText(int32 status, std::size_t bufferSize = kEngineErrorTextBufferSize);

/// The outcome of one driver call, with the error text captured at the moment
/// of failure so that later calls cannot overwrite it.
struct DriverStatus {
    int32 code = 0;
    std::string text;

    bool ok() const { return code == 0; }
};

/// Wraps the status a driver call just returned. Exactly 0 is success; any
/// other value, warnings included, is a failure whose text is read now.
inline DriverStatus checkDriver(int32 status,
                                std::size_t textBufferSize = kEngineErrorTextBufferSize) {
    if (status == 0) {
        return {};
    }
    return {status, daqmxErrorText(status, textBufferSize)};
}

}  // namespace kra::device::stubs
