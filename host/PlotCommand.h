#pragma once

#include <cstdint>
#include <string>

#include "AcquisitionCommand.h"

namespace ni_usb_daq::host {

/// `plot`: a finite read, or a stretch of stream, as an SVG file.
class PlotCommand : public AcquisitionCommand {
public:
    explicit PlotCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    std::string file_ = "plot.svg";
    CLI::Option* secondsOption_ = nullptr;
    CLI::Option* samplesOption_ = nullptr;
    double seconds_ = 0;
    std::uint64_t samples_ = 0;
    bool overlay_ = false;
};

}  // namespace ni_usb_daq::host
