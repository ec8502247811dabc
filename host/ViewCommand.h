#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "AcquisitionCommand.h"
#include "StreamRecovery.h"

namespace ni_usb_daq::host {

namespace view {
class LiveView;
}

struct ViewOptions {
    RecoveryOptions recovery;               ///< --recover and its bound
    kra::device::OperationParams settings;  ///< checked, device defaults applied
    bool quiet = false;
    std::shared_ptr<view::LiveView> view;  ///< listening since the options were checked
};

/// `view`: acquires until Ctrl-C and shows the signals live in a browser,
/// recording nothing.
class ViewCommand : public AcquisitionCommand {
public:
    explicit ViewCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    ViewOptions options_;
    std::optional<std::string> port_;
    std::string address_ = "127.0.0.1";
    std::optional<std::string> recoverTimeout_;
};

}  // namespace ni_usb_daq::host
