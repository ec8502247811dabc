#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kra::device {

/// A file-system path from UTF-8 text. Paths cross the plug-in boundary and the
/// command line as UTF-8; on Windows a plain std::string would be read in the
/// ANSI code page instead and a non-ASCII folder not found.
inline std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

/// The UTF-8 text of a path, whatever the platform's native encoding.
inline std::string pathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace kra::device
