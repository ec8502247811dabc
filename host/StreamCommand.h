#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "AcquisitionCommand.h"
#include "RecordingOptions.h"
#include "RigPlan.h"
#include "StreamRecovery.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

namespace view {
class LiveView;
}

struct StreamOptions {
    StreamLimits limits;            ///< --frames, --samples
    std::optional<double> seconds;  ///< --seconds
    RecoveryOptions recovery;       ///< --recover and its bounds
    RecordingOutput output;
    kra::device::OperationParams settings;  ///< checked, device defaults applied
    bool quiet = false;                     ///< -q: no information lines
    /// How often a progress line is written when standard error is no terminal.
    std::chrono::duration<double> progressInterval{10.0};
    /// --text-frames (not in the help): CSV and HDF5 from frame texts, for benchmarks.
    bool textFrames = false;
    /// --view: the live view, listening since the options were checked.
    std::shared_ptr<view::LiveView> view;
    /// Channels of several devices: each gets its own stub and task.
    std::optional<RigPlan> rig;
};

/// `stream`: frames into a recording until a limit or Ctrl-C.
class StreamCommand : public AcquisitionCommand {
public:
    explicit StreamCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    /// The numbers as typed; prepare() reads and checks them.
    struct Numbers {
        std::optional<std::string> frames;
        std::optional<std::string> samples;
        std::optional<std::string> seconds;
        std::optional<std::string> recoverTimeout;
        std::optional<std::string> maxGaps;
        std::optional<std::string> progressInterval;
        std::optional<std::string> view;
        std::optional<std::string> triggerTimeout;
    };

    StreamOptions options_;  ///< as given; settings and output are made by prepare()
    Numbers numbers_;
    std::vector<std::string> shareClock_;  ///< --share-clock, one pair per follower
    std::vector<std::string> shareStart_;  ///< --share-start, one pair per follower
    RecordingOptions output_;
};

}  // namespace ni_usb_daq::host
