#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ni_usb_daq::host {

enum class OutputFormat { Json, JsonLines, Csv, Hdf5 };

/// The format named by --format, else by the extension of --out, else
/// `fallback`. `accepted` lists the formats the command can write. Throws
/// UsageError for a format or an extension it cannot write.
OutputFormat chooseFormat(const std::optional<std::string>& formatOption,
                          const std::optional<std::string>& outPath,
                          const std::vector<OutputFormat>& accepted, OutputFormat fallback);

}  // namespace ni_usb_daq::host
