#pragma once

#include <cstdint>
#include <optional>

#include "AcquisitionCommand.h"
#include "RecordingOptions.h"

namespace ni_usb_daq::host {

/// `stream`: frames into a recording until a limit or Ctrl-C.
class StreamCommand : public AcquisitionCommand {
public:
    explicit StreamCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    CLI::Option* framesOption_ = nullptr;
    CLI::Option* samplesOption_ = nullptr;
    CLI::Option* secondsOption_ = nullptr;
    std::uint64_t frames_ = 0;
    std::uint64_t samples_ = 0;
    double seconds_ = 0;
    bool recover_ = false;
    double recoverTimeout_ = 600.0;
    std::optional<std::uint64_t> maxGaps_;
    RecordingOptions output_;
};

}  // namespace ni_usb_daq::host
