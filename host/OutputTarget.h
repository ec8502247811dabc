#pragma once

#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <optional>
#include <string>

#include "Utf8Path.h"

namespace ni_usb_daq::host {

using kra::device::pathFromUtf8;
using kra::device::pathToUtf8;

/// How a file target is written: through stream(), or by a writer that opens
/// the temporary file by its name (temporaryPath()) with a library of its own.
enum class OutputAccess { Stream, Path };

/// Where a command writes its result: standard output, or the file of --out.
/// A file is written under a temporary name beside it, made (and its folder
/// checked) before anything is acquired, and takes the file's name only on
/// commit(): a command that fails leaves an existing file as it was and
/// creates none.
class OutputTarget {
public:
    /// Standard output when `path` is empty. Throws HostError saying why a
    /// file cannot be written: a missing folder, a folder that is not one, a
    /// file that cannot be replaced, or the system's reason for refusing to
    /// create the temporary file. With OutputAccess::Path the temporary file
    /// is made empty and left closed for its writer to open by name.
    explicit OutputTarget(const std::optional<std::string>& path,
                          OutputAccess access = OutputAccess::Stream);
    ~OutputTarget();
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;

    std::ostream& stream();
    /// "standard output" or the file's name.
    const std::string& name() const { return name_; }
    /// The temporary file the result is written to before commit(), as
    /// UTF-8 text; empty for standard output and once committed.
    std::string temporaryPath() const { return pathToUtf8(temporary_); }

    /// Keeps the reason of a write that just failed (errno), for check().
    void noteFailure();

    /// Throws OutputClosed when the reader of a pipe went away, HostError
    /// when anything else made a write fail.
    void check();

    /// Flushes, checks and, for a file, puts it in place of the target.
    void commit();
    /// A failed run's file, moved to the target's name with ".partial"
    /// appended (an older one there is replaced); the target stays as it was.
    /// That name, or nullopt for standard output or when it cannot be moved.
    std::optional<std::string> keepAside() noexcept;
    /// Removes the temporary file; the target stays as it was. Safe to call
    /// more than once, and from a path that ends the process at once.
    void discard() noexcept;

private:
    std::optional<std::ofstream> file_;
    std::filesystem::path temporary_;
    std::filesystem::path final_;
    int failure_ = 0;
    bool byPath_ = false;  ///< OutputAccess::Path: written by name, not through stream()
    std::string name_ = "standard output";
};

}  // namespace ni_usb_daq::host
