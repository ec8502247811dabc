#pragma once

#include <chrono>
#include <memory>
#include <string>

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

}  // namespace ni_usb_daq::host
