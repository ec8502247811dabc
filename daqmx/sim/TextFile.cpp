#include "TextFile.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>

namespace daqmx_sim {

std::optional<std::string> readTextFile(const std::string& path, std::string& problem) {
    std::ifstream in(std::filesystem::path(std::u8string_view(
                         reinterpret_cast<const char8_t*>(path.data()), path.size())),
                     std::ios::binary);
    if (!in) {
        problem = "cannot open " + path;
        return std::nullopt;
    }
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace daqmx_sim
