#include "Logging.h"

#include <iostream>

namespace kra::device::stubs {

std::string logPrefix(char level) {
    std::string prefix = "[ni-usb-daq";
    if (level != '\0') {
        prefix.append(1, ' ').append(1, level);
    }
    return prefix.append("] ");
}

void detail::writeLogLine(char level, const std::string& message) {
    std::string line = logPrefix(level);
    line.append(message).push_back('\n');
    // A failed write to standard error has nowhere to be reported.
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

}  // namespace kra::device::stubs
