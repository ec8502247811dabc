#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// How an HDF5 recording is written.
struct Hdf5WriterOptions {
    /// Shuffle and deflate (level 1) on the sample datasets: smaller files
    /// for slow, quiet signals, at some cost in speed.
    bool compress = false;
    /// Longest time written data may stay unflushed while frames, gaps or
    /// idle calls come in; zero flushes after every frame.
    std::chrono::milliseconds flushInterval{1000};
};

/// Throws UsageError when this build has no HDF5 support, so that a command
/// can refuse an HDF5 recording before it acquires anything.
void requireHdf5Support();

/// A writer that records to the HDF5 file at `path`, created (or replaced)
/// at once. Throws HostError when the file cannot be created, and
/// UsageError when this build has no HDF5 support.
std::unique_ptr<RecordingWriter> makeHdf5Writer(const std::string& path,
                                                const Hdf5WriterOptions& options = {});

/// One HDF5 file holding several recordings, one group each with the
/// layout a one-device file has at its root (a stream of several devices).
class GroupedRecordingFile {
public:
    virtual ~GroupedRecordingFile() = default;
    /// The writer of group `name`; its begin() makes the group.
    virtual std::unique_ptr<RecordingWriter> group(const std::string& name) = 0;
    /// Text attributes of the object at `path` ("/" or a group begun); only
    /// before share().
    virtual void texts(const std::string& path, const std::string& name,
                       const std::vector<std::string>& values) = 0;
    virtual void text(const std::string& path, const std::string& name,
                      const std::string& value) = 0;
    /// Every group has begun: from here on readers may follow the file.
    virtual void share() = 0;
    /// Every group has ended: the file is closed.
    virtual void close() = 0;
};

/// A grouped file at `path`, created (or replaced) at once; throws as makeHdf5Writer.
std::unique_ptr<GroupedRecordingFile> makeHdf5GroupedFile(const std::string& path,
                                                          const Hdf5WriterOptions& options = {});

}  // namespace ni_usb_daq::host
