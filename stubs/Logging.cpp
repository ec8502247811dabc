#include "Logging.h"

#include <iostream>

namespace kra::device::stubs {

std::string logPrefix(char level) {
    const std::string name = "[ni-usb-daq";
    return (level != '\0' ? name + ' ' + level : name) + "] ";
}

void detail::writeLogLine(char level, const std::string& message) {
    const std::string line = logPrefix(level) + message + '\n';
    // A failed write to standard error has nowhere to be reported.
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

}  // namespace kra::device::stubs
