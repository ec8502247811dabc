#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kra::device::stubs {

/// A file-system path from UTF-8 text. Paths reach the plug-in as UTF-8 (the
/// manifest folder, manifest names); on Windows a plain std::string would be
/// read in the ANSI code page instead and a non-ASCII folder not found.
inline std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

}  // namespace kra::device::stubs
