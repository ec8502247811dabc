#pragma once

#include <cstdint>
#include <ostream>

#include "OutputTarget.h"
#include "RecordingWriter.h"

namespace ni_usb_daq::host {

/// A recording written as text through its target (CSV, JSON lines): every
/// write is checked, and an idle moment makes what was written visible.
class TextRecordingWriter : public RecordingWriter {
public:
    explicit TextRecordingWriter(OutputTarget& target) : out_(target.stream()), target_(target) {}

    void idle() override {
        out_.flush();
        written();
    }
    std::uint64_t frameErrors() const override { return frameErrors_; }

protected:
    /// Throws (through the target) when the last write failed.
    void written() {
        if (!out_.good()) {
            target_.noteFailure();
            target_.check();
        }
    }
    /// Counts a frame without the digital snapshot its columns expect as an
    /// error; true for the first, which the writer says on standard error.
    bool firstWithoutDigital() {
        ++frameErrors_;
        return ++digitalMissing_ == 1;
    }

    std::ostream& out_;
    std::uint64_t frameErrors_ = 0;

private:
    OutputTarget& target_;
    std::uint64_t digitalMissing_ = 0;
};

}  // namespace ni_usb_daq::host
