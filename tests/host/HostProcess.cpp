#include "HostProcess.h"

#include <sstream>

namespace host_tests {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string piece; std::getline(stream, piece, separator);) {
        result.push_back(piece);
    }
    return result;
}

HostRun runHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    return HostProcess(args, environment).finish();
}

}  // namespace host_tests
