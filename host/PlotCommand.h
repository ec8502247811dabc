#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "AcquisitionCommand.h"

namespace ni_usb_daq::host {

struct PlotOptions {
    std::string out = "plot.svg";
    /// Stream for this long instead of one finite read.
    std::optional<double> streamSeconds;
    /// Stream this many samples per channel instead of one finite read.
    std::optional<std::uint64_t> samples;
    /// All channels on one set of axes, however many there are.
    bool overlay = false;
    kra::device::OperationParams settings;
};

/// `plot`: a finite read, or a stretch of stream, as an SVG file.
class PlotCommand : public AcquisitionCommand {
public:
    explicit PlotCommand(CLI::App& app);
    SessionAction prepare(const GlobalOptions& global) override;

private:
    PlotOptions options_;  ///< as given; the settings and numbers are made by prepare()
    std::optional<std::string> streamSeconds_;  ///< as typed
    std::optional<std::string> samples_;        ///< as typed
};

}  // namespace ni_usb_daq::host
