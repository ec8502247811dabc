#pragma once

#include <optional>
#include <string>

#include "daqmx/NIDAQmx.h"

namespace kra::device::stubs {

/// What the driver says an analogue task really got, as compact JSON texts:
/// the channel names in task order (["Dev1/ai0","Dev1/ai1"]) and each
/// channel's voltage range ([[-1.0,1.0],[-10.0,10.0]]). A text the driver
/// could not give is empty, with one warning logged.
struct ChannelReadback {
    std::optional<std::string> channelsJson;
    std::optional<std::string> rangesJson;
};

ChannelReadback readBackChannels(TaskHandle task, uInt32 channelCount);

/// Shortest decimal text that reads back as exactly `value` ("0" for zero),
/// whatever the host's locale.
std::string exactNumberText(double value);

}  // namespace kra::device::stubs
