#include "DriverStatus.h"

#include <vector>

#include "stubs/DriverStrings.h"

namespace kra::device::stubs {

std::string daqmxErrorText(int32 status, std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize, '\0');
    (void)DAQmxGetExtendedErrorInfo(buffer.data(), static_cast<uInt32>(buffer.size()));
    return "DAQmx error " + std::to_string(status) + ": " +
           std::string(textInBuffer(buffer.data(), buffer.size()));
}

}  // namespace kra::device::stubs
