#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Hdf5WriterFactory.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording in one HDF5 file, readable while it grows and after a crash.
///
/// "/analog" holds the samples in volts, one row per sample and one column
/// per channel; "/digital" the digital snapshot of each frame's rows (255
/// where a frame brought none); "/frames" and "/gaps" one record per frame
/// and per outage. The facts of the run are attributes of the root group and
/// of "/analog"; the "end_*" attributes of the root say "recording" until
/// end() rewrites them with how it ended and its totals.
///
/// The file is written in single-writer/multiple-reader mode: readers open it
/// with swmr=True while it grows, and a file whose writer was killed opens
/// that way with everything up to the last flush (a plain open first needs
/// `h5clear -s`). Flushes happen at least every flushInterval while calls
/// come in, and at the end. A writer made by an Hdf5GroupedFile writes the
/// same layout into a group of a shared file.
class Hdf5RecordingWriter : public RecordingWriter {
public:
    Hdf5RecordingWriter(const std::string& path, const Hdf5WriterOptions& options);
    ~Hdf5RecordingWriter() override;
    Hdf5RecordingWriter(const Hdf5RecordingWriter&) = delete;
    Hdf5RecordingWriter& operator=(const Hdf5RecordingWriter&) = delete;

    void begin(const RecordingFacts& facts) override;
    void frame(const FrameRecord& frame) override;
    void gap(const GapRecord& gap) override;
    void end(const RecordingEnd& end) override;
    void idle() override;
    void endAfterFailure(const RecordingEnd& end) noexcept override;

    struct File;  // the library's handles

    /// A writer of group `group` of a file others share (made by an
    /// Hdf5GroupedFile): its begin() makes the group, and the file is opened
    /// to readers by its owner.
    Hdf5RecordingWriter(std::unique_ptr<File> file, std::string group,
                        const Hdf5WriterOptions& options);

private:
    void flushIfDue();
    void flush();

    std::string path_;
    std::string group_;  ///< empty: the file's root
    Hdf5WriterOptions options_;
    std::unique_ptr<File> file_;
    std::uint64_t channels_ = 0;
    std::uint64_t lines_ = 0;
    std::uint64_t rows_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t gaps_ = 0;
    std::uint64_t lost_ = 0;  ///< samples per channel the gaps lost
    std::chrono::steady_clock::time_point lastFlush_;
    std::vector<double> analogRows_;         ///< a frame's samples, one row per sample
    std::vector<std::uint8_t> digitalRows_;  ///< its snapshot repeated on each row
};

/// The grouped file's implementation, for the factory.
std::unique_ptr<GroupedRecordingFile> makeGroupedHdf5File(const std::string& path,
                                                          const Hdf5WriterOptions& options);

}  // namespace ni_usb_daq::host
