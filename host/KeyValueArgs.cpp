#include "KeyValueArgs.h"

#include "HostError.h"

namespace ni_usb_daq::host {

kra::device::OperationParams parseKeyValueArgs(const std::vector<std::string>& args) {
    kra::device::OperationParams params;
    std::vector<std::string> problems;
    for (const auto& arg : args) {
        const auto equals = arg.find('=');
        if (equals == std::string::npos) {
            problems.push_back("'" + arg + "' has no '='");
            continue;
        }
        if (equals == 0) {
            problems.push_back("'" + arg + "' has an empty key");
            continue;
        }
        auto key = arg.substr(0, equals);
        if (params.contains(key)) {
            problems.push_back("'" + key + "' is given more than once");
            continue;
        }
        params.emplace(std::move(key), arg.substr(equals + 1));
    }
    if (!problems.empty()) {
        std::string message = "malformed setting";
        message += problems.size() > 1 ? "s: " : ": ";
        for (std::size_t i = 0; i < problems.size(); ++i) {
            message += (i > 0 ? "; " : "") + problems[i];
        }
        throw UsageError(message + " (expected KEY=VALUE)");
    }
    return params;
}

}  // namespace ni_usb_daq::host
