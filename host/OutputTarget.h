#pragma once

#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <optional>
#include <string>

#include "HostError.h"
#include "Utf8Path.h"

namespace ni_usb_daq::host {

using kra::device::pathFromUtf8;
using kra::device::pathToUtf8;

/// How a file target is written: through stream(), or by a writer that opens
/// the file by its name (writePath()) with a library of its own and seeks in
/// it (HDF5), which needs a regular file.
enum class OutputAccess { Stream, Path };

/// Where a command writes its result: standard output, or the file of --out.
///
/// A regular file (or a new name) is written under a temporary name beside
/// it, made (and its folder checked) before anything is acquired, and takes
/// the file's name, mode and owner only on commit(): a command that fails
/// leaves an existing file as it was and creates none. Everything else is
/// written in place: a device, a named pipe (once a reader has opened it),
/// /dev/stdout and the like; a folder or a socket is refused.
class OutputTarget {
public:
    /// Standard output when `path` is empty. Throws UsageError for a folder,
    /// a socket, or a Path access to what is not a regular file; HostError
    /// saying why a file cannot be written otherwise: a missing folder, a
    /// file that cannot be replaced, or the system's reason for refusing to
    /// create the temporary file; Interrupted when a stop request ends the
    /// wait for a pipe's reader. With OutputAccess::Path the temporary file
    /// is made empty and left closed for its writer to open by name.
    explicit OutputTarget(const std::optional<std::string>& path,
                          OutputAccess access = OutputAccess::Stream);
    ~OutputTarget();
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;

    std::ostream& stream();
    /// "standard output" or the file's name.
    const std::string& name() const { return name_; }
    /// The file an OutputAccess::Path writer opens, as UTF-8 text: the
    /// temporary file, or the file itself when it is written in place.
    std::string writePath() const;

    /// Flushes what was written, which ends whole records: a write that
    /// fails later leaves these in the output, and a kept file is cut back to
    /// here. False when the output failed.
    bool flushRecord();

    /// Throws OutputClosed when the reader of a pipe went away, OutputFailed
    /// (with `kept`, what the output holds) when a write failed or the file
    /// was removed with its folder.
    void check(const RecordingTally& kept = {});
    /// Throws for the write that failed: OutputClosed for a closed pipe,
    /// else OutputFailed with `kept`.
    [[noreturn]] void fail(const RecordingTally& kept);

    /// True while the result goes to a temporary file beside the one it is
    /// to replace; false for standard output and what is written in place.
    bool writesBeside() const { return !temporary_.empty(); }

    /// Flushes, checks and, for a file, puts it in place of the target.
    void commit();
    /// After a failed write: the file cut back to the end of its last whole
    /// record and opened again at its end, for the records that close it.
    /// False for what cannot be cut back (standard output, a file written in
    /// place, one written by name) or when it cannot be reopened.
    bool reopenAtLastRecord() noexcept;
    /// A failed run's file, moved to the target's name with ".partial"
    /// appended (an older one there is replaced); the target stays as it was.
    /// That name, or nullopt for standard output, what is written in place,
    /// or when it cannot be moved.
    std::optional<std::string> keepAside() noexcept;
    /// Removes the temporary file; the target stays as it was. Safe to call
    /// more than once, and from a path that ends the process at once.
    void discard() noexcept;
    /// Why the file written is no longer there to keep (its folder or the
    /// temporary file was removed), or nullopt while it is.
    std::optional<std::string> whyGone() const;

private:
    void openInPlace(const std::filesystem::path& file, bool append);
    void openBeside(const std::filesystem::path& path);
    bool flushed();
    /// Keeps the reason of a write that just failed (errno), for fail().
    void noteFailure();
    std::string failureText() const;

    std::optional<std::ofstream> file_;
    std::filesystem::path temporary_;
    std::filesystem::path final_;
    std::streamoff recordEnd_ = 0;  ///< where the file's last whole record ends
    int failure_ = 0;
    bool byPath_ = false;  ///< OutputAccess::Path: written by name, not through stream()
    std::string name_ = "standard output";
};

}  // namespace ni_usb_daq::host
