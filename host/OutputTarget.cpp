#include "OutputTarget.h"

#include <cerrno>
#include <iostream>
#include <system_error>

#include "HostError.h"
#include "Platform.h"

namespace ni_usb_daq::host {

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
        throw HostError("cannot write '" + *path + "': the folder '" + pathToUtf8(folder) +
                        "' does not exist");
    }
    if (!std::filesystem::is_directory(status)) {
        throw HostError("cannot write '" + *path + "': '" + pathToUtf8(folder) +
                        "' is not a folder");
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
