#pragma once

#include <optional>
#include <string>

namespace daqmx_sim {

/// The whole of the file at `path` (UTF-8 text, on Windows too, where a plain
/// string would be read in the ANSI code page); nullopt with `problem` set
/// when it cannot be opened.
std::optional<std::string> readTextFile(const std::string& path, std::string& problem);

}  // namespace daqmx_sim
