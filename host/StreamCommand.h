#pragma once

#include "AcquisitionCommand.h"
#include "RecordingOptions.h"
#include "StreamRecovery.h"
#include "StreamSession.h"

namespace ni_usb_daq::host {

struct StreamOptions {
    StreamLimits limits;            ///< --frames, --samples
    std::optional<double> seconds;  ///< --seconds
    RecoveryOptions recovery;       ///< --recover and its bounds
    RecordingOutput output;
    kra::device::OperationParams settings;  ///< checked, device defaults applied
};

/// `stream`: frames into a recording until a limit or Ctrl-C.
class StreamCommand : public AcquisitionCommand {
public:
    explicit StreamCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    StreamOptions options_;  ///< as given; settings and output are made by prepare()
    double recoverTimeout_ = 600.0;
    RecordingOptions output_;
};

}  // namespace ni_usb_daq::host
