#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace daqmx_sim {

/// One physical channel of a list, split into its device and its short name
/// ("Dev1/ai3" -> "Dev1", "ai3"; "Dev1/port0/line2" -> "Dev1", "port0/line2").
struct ChannelName {
    std::string device;
    std::string channel;
};

/// Expands a physical channel list in the driver's syntax: comma-separated
/// items, each "Dev1/ai0" or a range "Dev1/ai0:3" (also descending, and
/// "Dev1/ai0:ai3"). Only the syntax is checked here; whether the channels
/// exist is the caller's business. On a syntax error returns nullopt with the
/// offending item in `badItem`.
std::optional<std::vector<ChannelName>> expandChannelList(std::string_view list,
                                                          std::string& badItem);

}  // namespace daqmx_sim
