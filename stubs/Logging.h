#pragma once

#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

namespace kra::device::stubs {

/// Writes `format` to `out` with each "{}" replaced by the next argument.
/// Surplus placeholders stay literal, surplus arguments are dropped, and only
/// the format text is searched, never an argument's own text.
inline void formatMessage(std::ostream& out, std::string_view format) {
    out << format;
}

template <typename First, typename... Rest>
void formatMessage(std::ostream& out, std::string_view format, First&& first, Rest&&... rest) {
    const auto placeholder = format.size() < 2 ? std::string_view::npos : format.find("{}");
    if (placeholder == std::string_view::npos) {
        out << format;
        return;
    }
    out << format.substr(0, placeholder) << std::forward<First>(first);
    formatMessage(out, format.substr(placeholder + 2), std::forward<Rest>(rest)...);
}

/// What every line the plug-in writes to standard error starts with:
/// "[ni-usb-daq I] " for the level letter I, "[ni-usb-daq] " without one.
std::string logPrefix(char level = '\0');

namespace detail {
/// Writes prefix, message and end of line in one write so that lines from the
/// stream thread and host threads never interleave inside a line.
void writeLogLine(char level, const std::string& message);

template <typename... Args>
void log(char level, std::string_view format, Args&&... args) {
    std::ostringstream text;
    formatMessage(text, format, std::forward<Args>(args)...);
    writeLogLine(level, text.str());
}
}  // namespace detail

template <typename... Args>
void logInfo(std::string_view format, Args&&... args) {
    detail::log('I', format, std::forward<Args>(args)...);
}

template <typename... Args>
void logWarn(std::string_view format, Args&&... args) {
    detail::log('W', format, std::forward<Args>(args)...);
}

template <typename... Args>
void logError(std::string_view format, Args&&... args) {
    detail::log('E', format, std::forward<Args>(args)...);
}

}  // namespace kra::device::stubs
