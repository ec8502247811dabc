#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ni_usb_daq::host {

// The program speaks UTF-8 on every system; a path in the system's own
// encoding (a narrow code page on Windows) is converted at the edge.

/// A path the user typed: UTF-8 text, whatever the platform's own encoding.
inline std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

/// A path as UTF-8 text, for messages and documents.
inline std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace ni_usb_daq::host
