#include "stubs/DriverStrings.h"

namespace kra::device::stubs {
namespace {

/// A list may grow between the size query and the read (a device plugged in
/// meanwhile); a few rounds cover that without looping forever.
constexpr int kResizeAttempts = 3;

/// Reads into a zero-filled buffer, growing it to the size the driver asks
/// for at most kResizeAttempts times, but never beyond `maxElements`.
template <typename Element>
std::optional<std::vector<Element>> readGrowing(const std::function<int32(Element*, uInt32)>& call,
                                                uInt32 initialSize, uInt32 maxElements,
                                                int32* failedStatus) {
    std::vector<Element> buffer(initialSize, Element{});
    int32 status = call(buffer.data(), initialSize);
    for (int attempt = 0; status == DAQmxErrorBufferTooSmallForString && attempt < kResizeAttempts;
         ++attempt) {
        const int32 needed = call(nullptr, 0);
        if (needed <= 0 || static_cast<uInt32>(needed) > maxElements) {
            status = needed < 0 ? needed : status;
            break;
        }
        buffer.assign(static_cast<std::size_t>(needed), Element{});
        status = call(buffer.data(), static_cast<uInt32>(needed));
    }
    if (status != 0) {
        if (failedStatus != nullptr) {
            *failedStatus = status;
        }
        return std::nullopt;
    }
    return buffer;
}

}  // namespace

std::optional<std::string> readDriverString(const DriverStringCall& call, uInt32 initialSize,
                                            int32* failedStatus) {
    const auto buffer = readGrowing<char>(call, initialSize, kMaxDriverStringSize, failedStatus);
    if (!buffer) {
        return std::nullopt;
    }
    return std::string(textInBuffer(buffer->data(), buffer->size()));
}

std::optional<std::vector<float64>> readDriverArray(const DriverArrayCall& call,
                                                    uInt32 initialSize) {
    return readGrowing<float64>(call, initialSize, kMaxDriverStringSize / sizeof(float64), nullptr);
}

}  // namespace kra::device::stubs
