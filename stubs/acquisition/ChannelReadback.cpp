#include "stubs/acquisition/ChannelReadback.h"

#include <array>
#include <charconv>
#include <vector>

#include <nlohmann/json.hpp>

#include "stubs/DriverStatus.h"
#include "stubs/DriverStrings.h"
#include "stubs/Logging.h"

namespace kra::device::stubs {

namespace {

/// Enough for any channel name the driver makes; longer ones are asked again.
constexpr uInt32 kChannelNameBufferSize = 256;

std::optional<std::vector<std::string>> channelNames(TaskHandle task, uInt32 channelCount) {
    std::vector<std::string> names;
    names.reserve(channelCount);
    for (uInt32 index = 1; index <= channelCount; ++index) {
        int32 failed = 0;
        auto name = readDriverString(
            [&](char* buffer, uInt32 size) {
                return DAQmxGetNthTaskChannel(task, index, buffer, static_cast<int32>(size));
            },
            kChannelNameBufferSize, &failed);
        if (!name) {
            logWarn("AcquisitionEngine: channel {} of the task left unnamed: {}", index,
                    daqmxErrorText(failed));
            return std::nullopt;
        }
        names.push_back(std::move(*name));
    }
    return names;
}

}  // namespace

ChannelReadback readBackChannels(TaskHandle task, uInt32 channelCount) {
    ChannelReadback readback;
    const auto names = channelNames(task, channelCount);
    if (!names) {
        return readback;
    }
    nlohmann::json channels = nlohmann::json::array();
    nlohmann::json ranges = nlohmann::json::array();
    bool rangesKnown = true;
    for (const std::string& name : *names) {
        channels.push_back(name);
        if (!rangesKnown) {
            continue;
        }
        float64 low = 0.0;
        float64 high = 0.0;
        DriverStatus status = checkDriver(DAQmxGetAIRngLow(task, name.c_str(), &low));
        if (status.ok()) {
            status = checkDriver(DAQmxGetAIRngHigh(task, name.c_str(), &high));
        }
        if (!status.ok()) {
            logWarn("AcquisitionEngine: range of {} unknown: {}", name, status.text);
            rangesKnown = false;
            continue;
        }
        ranges.push_back({low, high});
    }
    // Names come from the driver: a text the JSON writer refuses is left out.
    try {
        readback.channelsJson = channels.dump();
    } catch (const nlohmann::json::type_error& error) {
        logWarn("AcquisitionEngine: channel names not reported: {}", error.what());
    }
    if (rangesKnown) {
        readback.rangesJson = ranges.dump();
    }
    return readback;
}

std::string exactNumberText(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

}  // namespace kra::device::stubs
