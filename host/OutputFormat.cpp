#include "OutputFormat.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "HostError.h"
#include "Utf8Path.h"

namespace ni_usb_daq::host {

using kra::device::pathFromUtf8;
using kra::device::pathToUtf8;

namespace {

std::string_view formatName(OutputFormat format) {
    constexpr std::array<std::string_view, 4> kNames = {"json", "jsonl", "csv", "hdf5"};
    return kNames.at(static_cast<std::size_t>(format));
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return lower;
}

/// The extension of the file name of `path`, without its dot, in lower case.
std::string extensionOf(const std::string& path) {
    std::string extension = pathToUtf8(pathFromUtf8(path).extension());
    if (!extension.empty()) {
        extension.erase(0, 1);
    }
    return lowerCase(extension);
}

std::optional<OutputFormat> formatOfName(std::string_view typed) {
    const std::string name = lowerCase(typed);
    for (const auto format :
         {OutputFormat::Json, OutputFormat::JsonLines, OutputFormat::Csv, OutputFormat::Hdf5}) {
        if (formatName(format) == name) {
            return format;
        }
    }
    if (name == "ndjson") {
        return OutputFormat::JsonLines;
    }
    if (name == "h5") {
        return OutputFormat::Hdf5;
    }
    return std::nullopt;
}

std::string acceptedNames(const std::vector<OutputFormat>& accepted) {
    std::string names;
    for (const auto format : accepted) {
        names += (names.empty() ? "" : ", ") + std::string(formatName(format));
    }
    return names;
}

}  // namespace

OutputFormat chooseFormat(const std::optional<std::string>& formatOption,
                          const std::optional<std::string>& outPath,
                          const std::vector<OutputFormat>& accepted, OutputFormat fallback) {
    const auto acceptable = [&](std::optional<OutputFormat> format) {
        return format && std::find(accepted.begin(), accepted.end(), *format) != accepted.end();
    };
    const auto extension = outPath ? extensionOf(*outPath) : std::string();
    if (formatOption) {
        const auto format = formatOfName(*formatOption);
        if (!acceptable(format)) {
            throw UsageError("--format " + *formatOption + " is not one of " +
                             acceptedNames(accepted));
        }
        // An extension of another format would mislead whoever opens the file.
        if (const auto named = formatOfName(extension); named && *named != *format) {
            throw UsageError("--format " + *formatOption + " does not match '" + *outPath +
                             "', whose extension names " + std::string(formatName(*named)) +
                             " (rename the file or leave --format out)");
        }
        return *format;
    }
    if (!outPath) {
        return fallback;
    }
    const auto format = formatOfName(extension);
    if (!acceptable(format)) {
        std::string extensions;
        for (std::size_t i = 0; i < accepted.size(); ++i) {
            extensions += (i == 0                     ? "."
                           : i + 1 == accepted.size() ? " or ."
                                                      : ", .") +
                          std::string(accepted[i] == OutputFormat::Hdf5 ? std::string_view("h5")
                                                                        : formatName(accepted[i]));
        }
        throw UsageError("cannot tell the format of '" + *outPath +
                         "' from its extension (name it " + extensions + ", or give --format)");
    }
    return *format;
}

bool hasExtension(const std::string& path, std::string_view extension) {
    const std::string wanted = lowerCase(extension);
    return !wanted.empty() && wanted.front() == '.' &&
           std::string_view(wanted).substr(1) == extensionOf(path);
}

}  // namespace ni_usb_daq::host
