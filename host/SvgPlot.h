#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ni_usb_daq::host {

struct PlotTrace {
    std::string name;
    std::vector<double> values;  ///< volts, one per sample; NaN leaves a gap
};

struct PlotInput {
    std::string title;
    double sampleRateHz = 1.0;  ///< places sample i at i / rate seconds
    std::vector<PlotTrace> traces;
    /// One lane per trace, each with its own voltage axis, instead of all
    /// traces on one set of axes.
    bool lanes = false;
};

/// Voltage over time as a self-contained SVG document: labelled axes with
/// ticks, one coloured <path class="trace"> per channel and a legend. Long
/// traces are thinned to at most `maxPointsPerTrace` points, keeping each
/// stretch's minimum and maximum so spikes survive.
std::string renderSvgPlot(const PlotInput& input, std::size_t maxPointsPerTrace = 2000);

/// Text with the five XML special characters escaped.
std::string escapeXml(const std::string& text);

}  // namespace ni_usb_daq::host
