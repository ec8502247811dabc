#include "TextFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

namespace daqmx_sim {

std::optional<std::string> readTextFile(const std::string& path, std::string& problem) {
    try {
        // Where paths are UTF-16 (Windows), a path that is not UTF-8 throws here.
        std::ifstream in(std::filesystem::path(std::u8string_view(
                             reinterpret_cast<const char8_t*>(path.data()), path.size())),
                         std::ios::binary);
        if (!in) {
            problem = "cannot open " + path;
            return std::nullopt;
        }
        return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    } catch (const std::exception& error) {
        problem = "cannot read " + path + ": " + error.what();
        return std::nullopt;
    }
}

}  // namespace daqmx_sim
