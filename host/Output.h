#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace ni_usb_daq::host {

/// A path the user typed: UTF-8 text, whatever the platform's own encoding.
std::filesystem::path pathFromUtf8(std::string_view text);
/// A path as UTF-8 text, for messages and documents.
std::string utf8Text(const std::filesystem::path& path);

enum class OutputFormat { Json, JsonLines, Csv };

/// The format named by --format, else by the extension of --out, else
/// `fallback`. `accepted` lists the formats the command can write. Throws
/// UsageError for a format or an extension it cannot write.
OutputFormat chooseFormat(const std::optional<std::string>& formatOption,
                          const std::optional<std::string>& outPath,
                          const std::vector<OutputFormat>& accepted, OutputFormat fallback);

/// Where a command writes its result: standard output, or the file of --out,
/// opened (and its folder checked) before anything is acquired.
class OutputTarget {
public:
    /// Standard output when `path` is empty. Throws HostError saying why a
    /// file cannot be written: a missing folder, a folder that is not one, or
    /// the system's reason for refusing to open it.
    explicit OutputTarget(const std::optional<std::string>& path);

    std::ostream& stream();
    /// "standard output" or the file's name.
    const std::string& name() const { return name_; }

    /// Keeps the reason of a write that just failed (errno), for check().
    void noteFailure();

    /// Throws OutputClosed when the reader of a pipe went away, HostError
    /// when anything else made a write fail.
    void check();

private:
    std::optional<std::ofstream> file_;
    int failure_ = 0;
    std::string name_ = "standard output";
};

/// What a CSV or JSON lines header says about the recording.
struct RecordingHeader {
    std::string device;
    std::string productType;
    std::vector<std::string> channels;
    std::string digitalLines;  ///< the configured list; empty for none
    double sampleRateHz = 0.0;
    double requestedSampleRateHz = 0.0;
    std::string sampleMode;
    std::string voltageRangeMin;
    std::string voltageRangeMax;
    std::string terminalConfig;
    std::chrono::system_clock::time_point start;
};

/// "2026-12-07T03:04:05.123456Z".
std::string utcText(std::chrono::system_clock::time_point time);

/// "ni-usb-daq-host 0.1.0".
std::string programVersion();

/// The header as "# key: value" lines, which CSV readers skip when told
/// that '#' starts a comment.
std::string csvComments(const RecordingHeader& header);

/// The header as one JSON object ("event": "header").
nlohmann::json headerJson(const RecordingHeader& header);

}  // namespace ni_usb_daq::host
