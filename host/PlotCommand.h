#pragma once

#include "AcquisitionCommand.h"
#include "Commands.h"

namespace ni_usb_daq::host {

/// `plot`: a finite read, or a stretch of stream, as an SVG file.
class PlotCommand : public AcquisitionCommand {
public:
    explicit PlotCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    PlotOptions options_;  ///< as given; the settings are made by prepare()
};

}  // namespace ni_usb_daq::host
