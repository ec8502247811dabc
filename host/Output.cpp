#include "Output.h"

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <system_error>

#include "HostError.h"
#include "Platform.h"

#ifndef NI_USB_DAQ_VERSION
#define NI_USB_DAQ_VERSION "unknown"
#endif

namespace ni_usb_daq::host {

namespace {

std::string_view formatName(OutputFormat format) {
    switch (format) {
        case OutputFormat::Json:
            return "json";
        case OutputFormat::JsonLines:
            return "jsonl";
        case OutputFormat::Csv:
            return "csv";
        case OutputFormat::Hdf5:
            return "hdf5";
    }
    return "json";
}

std::optional<OutputFormat> formatOfName(std::string_view name) {
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

std::string pad2(unsigned value) {
    const char digits[] = {static_cast<char>('0' + value / 10 % 10),
                           static_cast<char>('0' + value % 10)};
    return std::string(digits, 2);
}

}  // namespace

std::filesystem::path pathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

OutputFormat chooseFormat(const std::optional<std::string>& formatOption,
                          const std::optional<std::string>& outPath,
                          const std::vector<OutputFormat>& accepted, OutputFormat fallback) {
    const auto acceptable = [&](std::optional<OutputFormat> format) {
        return format && std::find(accepted.begin(), accepted.end(), *format) != accepted.end();
    };
    if (formatOption) {
        const auto format = formatOfName(*formatOption);
        if (!acceptable(format)) {
            throw UsageError("--format " + *formatOption + " is not one of " +
                             acceptedNames(accepted));
        }
        return *format;
    }
    if (!outPath) {
        return fallback;
    }
    std::string extension = utf8Text(pathFromUtf8(*outPath).extension());
    if (!extension.empty()) {
        extension.erase(0, 1);
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

OutputTarget::OutputTarget(const std::optional<std::string>& path, OutputAccess access) {
    if (!path) {
        return;
    }
    name_ = *path;
    std::filesystem::path file = pathFromUtf8(*path);
    std::error_code error;
    if (std::filesystem::is_symlink(file, error)) {
        // The file the link names is replaced, not the link.
        file = std::filesystem::weakly_canonical(file, error);
    }
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const auto status = std::filesystem::status(folder, error);
    if (!std::filesystem::exists(status)) {
        throw HostError("cannot write '" + *path + "': the folder '" + utf8Text(folder) +
                        "' does not exist");
    }
    if (!std::filesystem::is_directory(status)) {
        throw HostError("cannot write '" + *path + "': '" + utf8Text(folder) + "' is not a folder");
    }
    if (std::filesystem::is_directory(file, error)) {
        throw HostError("cannot write '" + *path + "': it is a folder");
    }
    if (std::filesystem::exists(file, error)) {
        // Renaming would replace a file the user may not write to; asking to
        // append opens it without changing it.
        errno = 0;
        std::ofstream existing(file, std::ios::binary | std::ios::app);
        if (!existing) {
            const int reason = errno;
            throw HostError("cannot write '" + *path + "': " +
                            (reason != 0 ? std::generic_category().message(reason)
                                         : std::string("it cannot be opened")));
        }
    }
    for (unsigned attempt = 0;; ++attempt) {
        temporary_ = file;
        temporary_ += pathFromUtf8(".partial-" + std::to_string(platform::processId()) + "-" +
                                   std::to_string(attempt));
        if (!std::filesystem::exists(temporary_, error) || attempt >= 100) {
            break;
        }
    }
    final_ = file;
    errno = 0;
    file_.emplace(temporary_, std::ios::binary | std::ios::trunc);
    if (!*file_) {
        const int reason = errno;
        file_.reset();
        throw HostError("cannot write '" + *path + "': " +
                        (reason != 0 ? std::generic_category().message(reason)
                                     : std::string("it cannot be created")));
    }
    if (access == OutputAccess::Path) {
        file_.reset();
        byPath_ = true;
    }
}

OutputTarget::~OutputTarget() {
    discard();
}

std::ostream& OutputTarget::stream() {
    return file_ ? static_cast<std::ostream&>(*file_) : std::cout;
}

void OutputTarget::noteFailure() {
    if (failure_ == 0) {
        failure_ = errno;
    }
}

void OutputTarget::check() {
    if (byPath_) {
        return;  // its writer reports its own failures
    }
    std::ostream& out = stream();
    if (out) {
        errno = 0;
        out.flush();
        if (out) {
            return;
        }
    }
    // The reason of the write that failed, unless one was noted earlier.
    noteFailure();
    if (failure_ == EPIPE) {
        throw OutputClosed();
    }
    throw HostError("cannot write to " + (file_ ? "'" + name_ + "'" : name_) +
                    (failure_ != 0 ? ": " + std::generic_category().message(failure_) : ""));
}

void OutputTarget::commit() {
    check();
    if (byPath_ && !temporary_.empty()) {
        platform::replaceFile(temporary_, final_);
        temporary_.clear();
        return;
    }
    if (!file_) {
        return;
    }
    errno = 0;
    file_->close();
    if (!*file_) {
        noteFailure();
        throw HostError("cannot write to '" + name_ + "'" +
                        (failure_ != 0 ? ": " + std::generic_category().message(failure_) : ""));
    }
    file_.reset();
    platform::replaceFile(temporary_, final_);
    temporary_.clear();
}

std::optional<std::string> OutputTarget::keepAside() noexcept {
    if (temporary_.empty()) {
        return std::nullopt;
    }
    try {
        file_.reset();
        std::filesystem::path kept = final_;
        kept += ".partial";
        platform::replaceFile(temporary_, kept);
        temporary_.clear();
        return utf8Text(kept);
    } catch (const std::exception& error) {
        std::cerr << kProgramName << ": cannot keep the partial recording: " << error.what()
                  << '\n';
        return std::nullopt;
    }
}

void OutputTarget::discard() noexcept {
    if (temporary_.empty()) {
        return;
    }
    file_.reset();
    std::error_code ignored;
    std::filesystem::remove(temporary_, ignored);
    temporary_.clear();
}

std::string utcText(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto micros = time_point_cast<microseconds>(time);
    const auto day = floor<days>(micros);
    const year_month_day date(day);
    const hh_mm_ss clock(micros - day);
    std::string micro = std::to_string(clock.subseconds().count());
    micro.insert(0, 6 - micro.size(), '0');
    return std::to_string(static_cast<int>(date.year())) + "-" +
           pad2(static_cast<unsigned>(date.month())) + "-" +
           pad2(static_cast<unsigned>(date.day())) + "T" +
           pad2(static_cast<unsigned>(clock.hours().count())) + ":" +
           pad2(static_cast<unsigned>(clock.minutes().count())) + ":" +
           pad2(static_cast<unsigned>(clock.seconds().count())) + "." + micro + "Z";
}

std::string programVersion() {
    return std::string(kProgramName) + " " + NI_USB_DAQ_VERSION;
}

}  // namespace ni_usb_daq::host
