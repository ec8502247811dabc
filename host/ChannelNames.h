#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

/// Expands a physical channel list written as comma-separated names and
/// ranges ("Dev1/ai0:3, Dev2/ai7" gives Dev1/ai0 .. Dev1/ai3 and Dev2/ai7).
/// nullopt for anything more elaborate than that.
std::optional<std::vector<std::string>> expandChannelList(std::string_view list);

/// Column names for `count` channels: the expanded list when it has exactly
/// that many entries, otherwise ch0 .. ch<count-1>.
std::vector<std::string> channelNames(std::string_view list, std::size_t count);

}  // namespace ni_usb_daq::host
