#include "DriverStatus.h"

#include <cstring>
#include <vector>

namespace kra::device::stubs {

std::string daqmxErrorText(int32 status, std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize, '\0');
    (void)DAQmxGetExtendedErrorInfo(buffer.data(), static_cast<uInt32>(buffer.size()));
    // Bounded: a driver that forgot the terminating zero must not make us read past the end.
    const std::size_t length = ::strnlen(buffer.data(), buffer.size());
    std::string text = "DAQmx error ";
    text += std::to_string(status);
    text += ": ";
    text.append(buffer.data(), length);
    return text;
}

}  // namespace kra::device::stubs
