#include "stubs/DriverStrings.h"

#include <cstring>
#include <vector>

namespace kra::device::stubs {
namespace {

/// A list may grow between the size query and the read (a device plugged in
/// meanwhile); a few rounds cover that without looping forever.
constexpr int kResizeAttempts = 3;

std::string textWithin(const std::vector<char>& buffer) {
    return std::string(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
}

}  // namespace

std::optional<std::string> readDriverString(const DriverStringCall& call, uInt32 initialSize) {
    std::vector<char> buffer(initialSize, '\0');
    int32 status = call(buffer.data(), initialSize);
    for (int attempt = 0; status == DAQmxErrorBufferTooSmallForString && attempt < kResizeAttempts;
         ++attempt) {
        const int32 needed = call(nullptr, 0);
        if (needed <= 0 || static_cast<uInt32>(needed) > kMaxDriverStringSize) {
            return std::nullopt;
        }
        buffer.assign(static_cast<std::size_t>(needed), '\0');
        status = call(buffer.data(), static_cast<uInt32>(needed));
    }
    if (status != 0) {
        return std::nullopt;
    }
    return textWithin(buffer);
}

}  // namespace kra::device::stubs
