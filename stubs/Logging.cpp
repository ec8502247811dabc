#include "Logging.h"

#include <iostream>

namespace kra::device::stubs::detail {

void writeLogLine(std::string_view prefix, const std::string& message) {
    std::string line;
    line.reserve(prefix.size() + message.size() + 1);
    line.append(prefix).append(message).push_back('\n');
    // A failed write to standard error has nowhere to be reported.
    std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
    std::cerr.flush();
}

}  // namespace kra::device::stubs::detail
