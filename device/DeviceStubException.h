#pragma once

#include <stdexcept>
#include <string>

namespace kra::device {

/// Thrown by IDeviceStub::connect when the device does not answer.
class DeviceStubException : public std::runtime_error {
public:
    explicit DeviceStubException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kra::device
