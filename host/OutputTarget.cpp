#include "OutputTarget.h"

#include <cerrno>
#include <iostream>
#include <system_error>

#include "Platform.h"

namespace ni_usb_daq::host {

namespace {

std::string systemReason(int reason, const char* unknown) {
    return reason != 0 ? std::generic_category().message(reason) : std::string(unknown);
}

/// A folder or a socket cannot take a recording; a writer that seeks (HDF5)
/// needs a regular file. Refused before anything runs.
void refuse(const std::string& name, platform::FileKind kind, OutputAccess access) {
    using platform::FileKind;
    if (kind == FileKind::Folder || kind == FileKind::Socket) {
        throw UsageError("cannot write '" + name + "': it is a " +
                         (kind == FileKind::Folder ? "folder" : "socket"));
    }
    if (access == OutputAccess::Path && kind != FileKind::Regular && kind != FileKind::Missing) {
        throw UsageError("cannot write '" + name + "': it is " +
                         (kind == FileKind::Device ? "a device"
                          : kind == FileKind::Pipe ? "a named pipe"
                                                   : "no regular file") +
                         ", and an HDF5 recording needs a regular file it can seek in");
    }
}

}  // namespace

OutputTarget::OutputTarget(const std::optional<std::string>& path, OutputAccess access) {
    if (!path) {
        return;
    }
    name_ = *path;
    byPath_ = access == OutputAccess::Path;
    const std::filesystem::path file = pathFromUtf8(*path);
    const platform::OutputPlace place = platform::outputPlace(file);
    refuse(name_, place.kind, access);
    if (place.inPlace) {
        openInPlace(file, place.append);
    } else {
        openBeside(file);
    }
}

void OutputTarget::openInPlace(const std::filesystem::path& file, bool append) {
    final_ = file;
    if (byPath_) {
        return;  // its writer opens it
    }
    const platform::StopRequests stops;
    errno = 0;
    auto opened = platform::openInPlace(
        file, std::ios::binary | (append ? std::ios::app : std::ios::trunc), stops,
        [this] { std::cerr << kProgramName << ": waiting for a reader of '" << name_ << "'\n"; });
    if (!opened) {
        std::cerr << kProgramName << ": interrupted while waiting for a reader of '" << name_
                  << "'; nothing written\n";
        throw Interrupted();
    }
    if (!opened->is_open()) {
        throw HostError("cannot write '" + name_ +
                        "': " + systemReason(errno, "it cannot be opened"));
    }
    file_ = std::move(opened);
}

void OutputTarget::openBeside(const std::filesystem::path& path) {
    std::filesystem::path file = path;
    std::error_code error;
    if (std::filesystem::is_symlink(file, error)) {
        // The file the link names is replaced, not the link.
        file = std::filesystem::weakly_canonical(file, error);
    }
    const std::filesystem::path folder =
        file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const auto status = std::filesystem::status(folder, error);
    if (!std::filesystem::exists(status)) {
        throw HostError("cannot write '" + name_ + "': the folder '" + pathToUtf8(folder) +
                        "' does not exist");
    }
    if (!std::filesystem::is_directory(status)) {
        throw HostError("cannot write '" + name_ + "': '" + pathToUtf8(folder) +
                        "' is not a folder");
    }
    if (std::filesystem::exists(file, error)) {
        // Renaming would replace a file the user may not write to; asking to
        // append opens it without changing it.
        errno = 0;
        std::ofstream existing(file, std::ios::binary | std::ios::app);
        if (!existing) {
            throw HostError("cannot write '" + name_ +
                            "': " + systemReason(errno, "it cannot be opened"));
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
        temporary_.clear();
        throw HostError("cannot write '" + name_ +
                        "': " + systemReason(reason, "it cannot be created"));
    }
    if (byPath_) {
        file_.reset();
    }
}

OutputTarget::~OutputTarget() {
    discard();
}

std::ostream& OutputTarget::stream() {
    return file_ ? static_cast<std::ostream&>(*file_) : std::cout;
}

std::string OutputTarget::writePath() const {
    if (!byPath_) {
        return {};
    }
    return pathToUtf8(temporary_.empty() ? final_ : temporary_);
}

void OutputTarget::noteFailure() {
    if (failure_ == 0) {
        failure_ = errno;
    }
}

bool OutputTarget::flushed() {
    std::ostream& out = stream();
    if (out) {
        errno = 0;
        out.flush();
    }
    if (!out) {
        // The reason of the write that failed, unless one was noted earlier.
        noteFailure();
        return false;
    }
    return true;
}

bool OutputTarget::flushRecord() {
    if (!flushed()) {
        return false;
    }
    if (file_ && !temporary_.empty()) {
        recordEnd_ = file_->tellp();
    }
    return true;
}

std::string OutputTarget::failureText() const {
    return "cannot write to " + (final_.empty() ? name_ : "'" + name_ + "'") +
           (failure_ != 0 ? ": " + std::generic_category().message(failure_) : "");
}

void OutputTarget::fail(const RecordingTally& kept) {
    if (failure_ == EPIPE) {
        throw OutputClosed();
    }
    throw OutputFailed(failureText(), kept);
}

void OutputTarget::check(const RecordingTally& kept) {
    if (const auto reason = whyGone()) {
        throw OutputFailed("cannot write '" + name_ + "': " + *reason, kept);
    }
    if (!byPath_ && !flushed()) {
        fail(kept);
    }
}

std::optional<std::string> OutputTarget::whyGone() const {
    std::error_code error;
    if (temporary_.empty() || std::filesystem::exists(temporary_, error)) {
        return std::nullopt;
    }
    const std::filesystem::path folder = temporary_.parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder, error)) {
        return "its folder '" + pathToUtf8(folder) + "' was removed while it was written";
    }
    return "its temporary file '" + pathToUtf8(temporary_) + "' was removed while it was written";
}

void OutputTarget::commit() {
    check();
    if (file_) {
        errno = 0;
        file_->close();
        if (!*file_) {
            noteFailure();
            fail({});
        }
        file_.reset();
    }
    if (temporary_.empty()) {
        return;
    }
    try {
        platform::copyAccess(final_, temporary_);
    } catch (const HostError& error) {
        std::cerr << kProgramName << ": warning: " << error.what() << '\n';
    }
    platform::replaceFile(temporary_, final_);
    temporary_.clear();
}

bool OutputTarget::reopenAtLastRecord() noexcept {
    if (!file_ || temporary_.empty()) {
        return false;
    }
    try {
        // Closing may still write what was buffered; it is cut off with the
        // rest of the broken record.
        file_->close();
        std::error_code error;
        std::filesystem::resize_file(temporary_, static_cast<std::uintmax_t>(recordEnd_), error);
        if (error) {
            return false;
        }
        file_->clear();
        file_->open(temporary_, std::ios::binary | std::ios::app);
        failure_ = 0;
        return file_->is_open();
    } catch (const std::exception&) {
        return false;
    }
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
        return pathToUtf8(kept);
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

}  // namespace ni_usb_daq::host
