#pragma once

#include <optional>
#include <string>

#include "AcquisitionCommand.h"
#include "RecordingOptions.h"

namespace ni_usb_daq::host {

struct ReadOptions {
    bool single = false;
    RecordingOutput output;
    kra::device::OperationParams settings;  ///< checked, device defaults applied
};

/// `read`: one finite block, or one value per channel, as a recording.
class ReadCommand : public AcquisitionCommand {
public:
    explicit ReadCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    ReadOptions options_;  ///< as given; settings and output are made by prepare()
    RecordingOptions output_;
    std::optional<std::string> triggerTimeout_;  ///< --trigger-timeout as typed
};

}  // namespace ni_usb_daq::host
