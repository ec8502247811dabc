#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ni_usb_daq::host {

enum class OutputFormat { Json, JsonLines, Csv, Hdf5 };

/// The format named by --format, else by the extension of --out, else
/// `fallback`; names and extensions match in any case. `accepted` lists the
/// formats the command can write. Throws UsageError for a format or an
/// extension it cannot write, and for a --format that another format's
/// extension contradicts (--format csv --out x.jsonl).
OutputFormat chooseFormat(const std::optional<std::string>& formatOption,
                          const std::optional<std::string>& outPath,
                          const std::vector<OutputFormat>& accepted, OutputFormat fallback);

/// True when the file name of `path` ends in `extension` (".svg"), in any case.
bool hasExtension(const std::string& path, std::string_view extension);

}  // namespace ni_usb_daq::host
